// The command line: option values (sarv_main.h) and the option context that parses them.
#pragma once

#include <glib.h>

#include <memory>

#include "glib_ptr.h"

struct OptionContextFree {
  void operator()(GOptionContext* c) const noexcept { g_option_context_free(c); }
};
using OptionContextPtr = std::unique_ptr<GOptionContext, OptionContextFree>;

// The context with the scanner's seven entries and the media framework's option group.
OptionContextPtr sarv_options_context_new();

// Largest sleep whose pause, in microseconds, still fits an unsigned 32-bit count.
inline constexpr gint kSarvSleepMaxMs = G_MAXUINT32 / 1000;

// Checks the values that the parser accepts but the scan cannot use (jobs below 1, a sleep
// outside 0 .. kSarvSleepMaxMs). Returns the message to print, or nothing when they are fine.
glibx::CharPtr sarv_options_refusal();

// Releases the output name if the parser allocated it.
void sarv_options_free();
