// What the soak tool reads about a process, and how it judges a series of readings.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>

namespace soak {

struct ProcStats {
  long rss_kb = 0;   // resident set
  long anon_kb = 0;  // of which anonymous memory (heaps, arenas, stacks)
  int fds = 0;
  int threads = 0;
};

inline int count_dir(const std::string& path) {
  int n = 0;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

inline long field_kb(const std::string& file, const char* name) {
  long value = 0;
  if (FILE* f = std::fopen(file.c_str(), "r")) {
    char line[256];
    size_t len = std::strlen(name);
    while (std::fgets(line, sizeof line, f))
      if (!std::strncmp(line, name, len)) value = std::atol(line + len);
    std::fclose(f);
  }
  return value;
}

inline ProcStats read_proc_stats(pid_t pid) {
  std::string dir = "/proc/" + std::to_string(pid);
  ProcStats s;
  s.rss_kb = field_kb(dir + "/status", "VmRSS:");
  s.anon_kb = field_kb(dir + "/smaps_rollup", "Anonymous:");
  s.fds = count_dir(dir + "/fd");
  s.threads = count_dir(dir + "/task");
  return s;
}

// Least-squares line y = intercept + slope * x.
struct Fit {
  double slope = 0;
  double intercept = 0;
};

inline Fit fit_line(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t n = std::min(x.size(), y.size());
  if (n < 2) return {0, n ? y[0] : 0};
  double mx = 0, my = 0;
  for (size_t i = 0; i < n; i++) mx += x[i], my += y[i];
  mx /= double(n);
  my /= double(n);
  double sxy = 0, sxx = 0;
  for (size_t i = 0; i < n; i++) sxy += (x[i] - mx) * (y[i] - my), sxx += (x[i] - mx) * (x[i] - mx);
  Fit fit;
  fit.slope = sxx > 0 ? sxy / sxx : 0;
  fit.intercept = my - fit.slope * mx;
  return fit;
}

// Growth of the fitted line from the first x to the last, in percent of its start: a single
// high or low sample hardly moves it, a steady rise does.
inline double fitted_growth_percent(const Fit& fit, const std::vector<double>& x) {
  if (x.size() < 2) return 0;
  double start = fit.intercept + fit.slope * x.front();
  double end = fit.intercept + fit.slope * x.back();
  return start > 0 ? (end - start) / start * 100 : 0;
}

// True unless the lowest value of the later half is more than margin above the lowest of the
// earlier half.
inline bool lows_flat(const std::vector<int>& values, int margin) {
  if (values.size() < 2) return true;
  auto middle = values.begin() + long(values.size() / 2);
  int early = *std::min_element(values.begin(), middle);
  int late = *std::min_element(middle, values.end());
  return late - early <= margin;
}

}  // namespace soak
