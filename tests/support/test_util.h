// Small helpers shared by in-process player tests.
#pragma once

#include <glib.h>

#include <cstdarg>
#include <string>

#include "glib_ptr.h"

namespace tilutest {

// printf into a std::string, for building the expected log lines.
inline std::string format(const char* fmt, ...) G_GNUC_PRINTF(1, 2);
inline std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  glibx::CharPtr s(g_strdup_vprintf(fmt, args));
  va_end(args);
  return s.get();
}

// Spins the default main context until done() holds or timeout_ms passes.
template <typename Pred>
bool spin_until(Pred done, int timeout_ms) {
  const gint64 end = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  while (!done()) {
    if (g_get_monotonic_time() > end) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(2000);
  }
  return true;
}

}  // namespace tilutest
