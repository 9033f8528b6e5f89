#include "bench_gst_log.h"

#include <cstdio>

namespace bench {

std::vector<std::string> with_debug_log(const std::string& log, std::vector<std::string> argv) {
  // env execs the program, so the child's pid is the program's own.
  argv.insert(argv.begin(), {"env", "GST_DEBUG=basesink:5", "GST_DEBUG_NO_COLOR=1", "GST_DEBUG_FILE=" + log});
  return argv;
}

std::string rendering_sink(const std::string& line) {
  size_t at = line.find("> rendering object");
  if (at == std::string::npos) return {};
  size_t open = line.rfind('<', at);
  return open == std::string::npos ? std::string() : line.substr(open + 1, at - open - 1);
}

double log_seconds(const std::string& line) {
  int h = 0, m = 0;
  double s = 0;
  return std::sscanf(line.c_str(), "%d:%d:%lf", &h, &m, &s) == 3 ? h * 3600 + m * 60 + s : -1;
}

}  // namespace bench
