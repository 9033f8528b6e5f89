// The output directory of the snapshots, made and checked before any worker starts.
#pragma once

#include <glib.h>

#include <string>

// Exit status of a run whose output directory cannot take the snapshots.
inline constexpr int kSarvOutputUnusable = -6;

// Creates dir (mode 0755) unless it exists, and checks that it is a directory in which files
// can be created and whose snapshot names fit a path. Returns what to print when it cannot be
// used, or nothing.
std::string sarv_output_prepare(const gchar* dir);
