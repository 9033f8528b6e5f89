// Targets: multicast addresses or nets as typed on the command line, checked and expanded into
// one SarvGroup per single group address.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

#include "sarv_main.h"

struct SarvTargetCheck {
  int status = 0;       // 0, or the exit status of the first failing target
  std::string message;  // what to print for it
  gint32 total = 0;     // addresses over all targets when status is 0
  std::vector<SarvTargetRange> ranges;  // one per target, in order, when status is 0
};

// Validation pass over targets[0 .. count-1], in order; stops at the first failure:
// -3 unparsable, -4 not IPv4, -5 not multicast or reaching outside 224.0.0.0/4, -2 when the
// total would pass 2^31 - 1.
SarvTargetCheck sarv_targets_check(int count, char** targets);
