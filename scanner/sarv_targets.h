// Targets: multicast addresses or nets as typed on the command line, checked and expanded into
// one SarvGroup per single group address.
#pragma once

#include <glib.h>

#include <string>

#include "sarv_main.h"

struct SarvTargetCheck {
  int status = 0;       // 0, or the exit status of the first failing target
  std::string message;  // what to print for it
  gint32 total = 0;     // addresses over all targets when status is 0
};

// Validation pass over targets[0 .. count-1], in order; stops at the first failure:
// -3 unparsable, -4 not IPv4, -5 not multicast, -2 when the total would pass 2^31 - 1.
SarvTargetCheck sarv_targets_check(int count, char** targets);

// Expansion pass: writes the host-order address of every target's addresses, in command-line
// order, into groups[0 .. total-1]. The targets must have passed the check with this total.
void sarv_targets_expand(int count, char** targets, SarvGroup* groups, gint32 total);
