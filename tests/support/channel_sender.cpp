#include "channel_sender.h"
