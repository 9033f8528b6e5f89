#include "tilu_player.h"
int main() { return 0; }
