// Pure view and navigation arithmetic on the player record (no actors touched).
#pragma once

#include "tilu_player.h"
