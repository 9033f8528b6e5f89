// Include in exactly one source file of an executable (the one with main()).
//
// Under AddressSanitizer, leak checking is paused while the shared libraries' constructors run:
// GLib's constructor allocates the first block of its quark table and drops it on purpose once
// the table grows (GStreamer and Clutter grow it), which LeakSanitizer would report at every
// exit. GLib is built without frame pointers, so such a report shows only g_malloc and cannot
// be told apart from our own leaks by a suppression. The executable's .preinit_array runs before
// any shared library's constructor; its ordinary constructors run after all of them.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define TILU_LSAN_EARLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TILU_LSAN_EARLY 1
#endif
#endif

#ifdef TILU_LSAN_EARLY
#include <sanitizer/lsan_interface.h>

extern "C" void __asan_init(void);

namespace {
void tilu_lsan_pause_during_library_constructors() {
  __asan_init();  // idempotent; the runtime may not have started yet this early
  __lsan_disable();
}
__attribute__((section(".preinit_array"), used)) void (*const tilu_lsan_pause_entry)(void) =
    tilu_lsan_pause_during_library_constructors;
__attribute__((constructor)) void tilu_lsan_resume_after_library_constructors() { __lsan_enable(); }
}  // namespace
#endif
