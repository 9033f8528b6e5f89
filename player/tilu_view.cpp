#include "tilu_player.h"
