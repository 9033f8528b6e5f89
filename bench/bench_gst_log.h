// Frames counted from the framework's own debug log: a process started with_debug_log writes the
// base sink's lines, and every "rendering object" line is one buffer a sink hands to its
// render function.
#pragma once

#include <string>
#include <vector>

namespace bench {

// argv run through env with the base sink's debug lines going to log.
std::vector<std::string> with_debug_log(const std::string& log, std::vector<std::string> argv);
// The sink's name when the line says it renders a buffer, else empty.
std::string rendering_sink(const std::string& line);
// Seconds since the framework's start at the head of a debug line ("0:00:01.977154169 ..."),
// or -1.
double log_seconds(const std::string& line);

}  // namespace bench
