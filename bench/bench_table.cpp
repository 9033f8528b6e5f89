#include "bench_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace bench {
namespace {

std::string format(const char* fmt, double a, double b = 0, double c = 0) {
  char buf[128];
  std::snprintf(buf, sizeof buf, fmt, a, b, c);
  return buf;
}

std::string summary(const std::vector<double>& v) {
  if (v.empty()) return "absent";
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return format("%.3f [%.3f-%.3f]", median(v), *lo, *hi);
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
      out += buf;
      continue;
    }
    out += c;
  }
  return out + "\"";
}

std::string json_numbers(const std::vector<double>& v) {
  std::string out = "[";
  for (size_t i = 0; i < v.size(); i++) out += (i ? ", " : "") + format("%.4f", v[i]);
  return out + "]";
}

std::string json_stats(const std::vector<double>& v) {
  if (v.empty()) return "null";
  auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return "{\"median\": " + format("%.4f", median(v)) + ", \"min\": " + format("%.4f", *lo) +
         ", \"max\": " + format("%.4f", *hi) + ", \"trials\": " + json_numbers(v) + "}";
}

// Ratios of the figure to the floor, trial by trial (the trials are interleaved in pairs).
std::vector<double> ratios(const Figure& f) {
  std::vector<double> r;
  for (size_t i = 0; i < std::min(f.values.size(), f.floor_values.size()); i++)
    if (f.floor_values[i] > 0) r.push_back(f.values[i] / f.floor_values[i]);
  return r;
}

}  // namespace

double median(std::vector<double> v) {
  if (v.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::vector<std::string> Table::missing() const {
  std::vector<std::string> names;
  for (const Figure& f : figures_)
    if (f.values.empty() || (!f.floor_name.empty() && f.floor_values.empty()))
      names.push_back(f.name);
  return names;
}

std::string Table::text() const {
  std::string out;
  char line[512];
  std::snprintf(line, sizeof line, "%-44s %-16s %-26s %-26s %-22s %s\n", "figure", "unit",
                "median [min-max]", "floor median [min-max]", "ratio median [min-max]", "floor");
  out += line;
  for (const Figure& f : figures_) {
    std::string ratio = f.floor_name.empty() ? "-" : summary(ratios(f));
    std::snprintf(line, sizeof line, "%-44s %-16s %-26s %-26s %-22s %s%s%s\n", f.name.c_str(),
                  f.unit.c_str(), summary(f.values).c_str(),
                  f.floor_name.empty() ? "-" : summary(f.floor_values).c_str(), ratio.c_str(),
                  f.floor_name.empty() ? "-" : f.floor_name.c_str(), f.note.empty() ? "" : "; ",
                  f.note.c_str());
    out += line;
  }
  return out;
}

std::string Table::json() const {
  std::string out = "{\"figures\": [\n";
  for (size_t i = 0; i < figures_.size(); i++) {
    const Figure& f = figures_[i];
    out += "  {\"name\": " + json_string(f.name) + ", \"unit\": " + json_string(f.unit) +
           ", \"value\": " + json_stats(f.values) + ", \"floor_name\": " +
           (f.floor_name.empty() ? "null" : json_string(f.floor_name)) +
           ", \"floor\": " + json_stats(f.floor_values) + ", \"ratio\": " +
           (f.floor_name.empty() ? "null" : json_stats(ratios(f))) +
           ", \"note\": " + json_string(f.note) + "}" + (i + 1 < figures_.size() ? ",\n" : "\n");
  }
  return out + "]}\n";
}

}  // namespace bench
