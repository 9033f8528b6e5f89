#include "sarv_output.h"

#include <glib/gstdio.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The longest file name a worker makes inside the directory.
constexpr char kLongestSnapshot[] = "/255.255.255.255-65535.png";

std::string _sarv_refusal(const gchar* dir, int error) {
  return std::string("output directory ") + dir + " cannot be used: " + g_strerror(error) + "\n";
}

}  // namespace

std::string sarv_output_prepare(const gchar* dir) {
  if (g_mkdir(dir, 0755) != 0 && errno != EEXIST) return _sarv_refusal(dir, errno);
  struct stat st;
  if (g_stat(dir, &st) != 0) return _sarv_refusal(dir, errno);
  if (!S_ISDIR(st.st_mode)) return _sarv_refusal(dir, ENOTDIR);
  if (access(dir, W_OK | X_OK) != 0) return _sarv_refusal(dir, errno);
  if (std::strlen(dir) + sizeof kLongestSnapshot > PATH_MAX) return _sarv_refusal(dir, ENAMETOOLONG);
  return {};
}
