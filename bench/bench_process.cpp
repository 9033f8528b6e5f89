#include "bench_process.h"

#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_env.h"

namespace bench {

double now_s() { return double(g_get_monotonic_time()) / G_USEC_PER_SEC; }

bool sh(const std::string& command) {
  int rc = tilutest::run_command(command);
  if (rc != 0) std::fprintf(stderr, "command failed (%d): %s\n", rc, command.c_str());
  return rc == 0;
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

double wait_png(const std::string& path, double deadline_s) {
  static const std::string end("IEND\xae\x42\x60\x82", 8);
  while (now_s() < deadline_s) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::streamoff size = in ? std::streamoff(in.tellg()) : 0;
    if (size >= 8) {
      std::string tail(8, '\0');
      in.seekg(size - 8);
      in.read(tail.data(), 8);
      if (in && tail == end) return now_s();
    }
    g_usleep(5000);
  }
  return -1;
}

bool wait_text(const std::string& path, const std::string& text, double deadline_s) {
  while (now_s() < deadline_s) {
    if (read_text(path).find(text) != std::string::npos) return true;
    g_usleep(50000);
  }
  return false;
}

double cpu_seconds(pid_t pid) {
  std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
  // The fields after the command name, which is in parentheses and may hold spaces.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; i++) {
    if (i == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
    if (i == 15) {
      stime = std::strtoull(field.c_str(), nullptr, 10);
      return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    }
  }
  return -1;
}

double resident_mib(pid_t pid) {
  std::istringstream status(read_text("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return -1;
}

void write_playlist(const std::string& path, const std::vector<std::string>& uris, const std::string& caption) {
  std::ofstream m3u(path);
  m3u << "#EXTM3U\n";
  for (size_t i = 0; i < uris.size(); i++) m3u << "#EXTINF:-1," << caption << " " << i << "\n" << uris[i] << "\n";
}

int count_pngs(const std::string& dir) {
  int n = 0;
  if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
    while (const char* name = g_dir_read_name(d)) n += g_str_has_suffix(name, ".png") ? 1 : 0;
    g_dir_close(d);
  }
  return n;
}

int sarv_device(const std::string& name) {
  tilutest::RunResult r = tilutest::run_capture({TILU_SARV_BIN, "-l"});
  std::string key = "dev_name(" + name + ")";
  size_t at = r.out.find(key);
  if (at == std::string::npos) return -1;
  size_t line = r.out.rfind("dev_idx(", at);
  return line == std::string::npos ? -1 : std::atoi(r.out.c_str() + line + 8);
}

}  // namespace bench
