// What the suite's sections share: seconds on the monotonic clock, shell commands, waiting for
// a file or a line, and the CPU time and memory of a process read from /proc.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace bench {

double now_s();  // monotonic clock
// Runs a shell command; prints it with its status to standard error when it fails.
bool sh(const std::string& command);
// Waits until path is a whole PNG file (ends with IEND); the time it was seen, or -1 at the
// deadline (on the monotonic clock).
double wait_png(const std::string& path, double deadline_s);
// Waits until the file holds text; false at the deadline.
bool wait_text(const std::string& path, const std::string& text, double deadline_s);
std::string read_text(const std::string& path);
// User plus system CPU seconds of the process and its threads so far; -1 when it is gone.
double cpu_seconds(pid_t pid);
// Resident memory of the process in MiB (VmRSS); -1 when it is gone.
double resident_mib(pid_t pid);
// An M3U playlist of the URIs, captioned "<caption> <index>".
void write_playlist(const std::string& path, const std::vector<std::string>& uris, const std::string& caption);
// How many files in dir end with ".png".
int count_pngs(const std::string& dir);
// Devices of `sarv -l` by name: the dev_idx to pass as -i, or -1.
int sarv_device(const std::string& name);

}  // namespace bench
