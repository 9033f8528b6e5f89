// The Debian package made by `cpack -G DEB` from the build tree: the control file names the
// libraries the linker sees and the media framework's plug-in packages it cannot see, and the
// package holds what the install rules install.
#include <gtest/gtest.h>

#include <string>

#include "test_env.h"

namespace {

TEST(Package, ControlFileAndContents) {
  tilutest::TempDir out;
  tilutest::RunResult cpack = tilutest::run_capture(
      {TILU_CPACK_COMMAND, "-G", "DEB", "-B", out.path(), "--config",
       TILU_BUILD_DIR "/CPackConfig.cmake"},
      240000);
  ASSERT_EQ(cpack.exit_code, 0) << cpack.out << cpack.err;
  std::string deb;
  GDir* dir = g_dir_open(out.path().c_str(), 0, nullptr);
  ASSERT_NE(dir, nullptr);
  while (const gchar* name = g_dir_read_name(dir))
    if (g_str_has_suffix(name, ".deb")) deb = out.file(name);
  g_dir_close(dir);
  ASSERT_FALSE(deb.empty()) << cpack.out;

  auto field = [&deb](const char* name) {
    tilutest::RunResult r = tilutest::run_capture({"dpkg-deb", "-f", deb, name});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r.out;
  };
  EXPECT_EQ(field("Package"), "tilu-sarv\n");
  EXPECT_EQ(field("Version"), "0.8\n");
  std::string depends = ", " + field("Depends");
  for (const char* package :
       {"gstreamer1.0-plugins-base", "gstreamer1.0-plugins-good", "gstreamer1.0-plugins-bad",
        "gstreamer1.0-libav",
        // from dpkg-shlibdeps
        "libgstreamer1.0-0", "libclutter-1.0-0", "libclutter-gst-3.0-0", "libpcap0.8",
        "libglib2.0-0"})
    EXPECT_NE(depends.find(std::string(", ") + package + " "), std::string::npos)
        << package << " missing in Depends" << depends;

  tilutest::RunResult contents = tilutest::run_capture({"dpkg-deb", "-c", deb});
  ASSERT_EQ(contents.exit_code, 0) << contents.err;
  for (const char* file : {"./usr/bin/tilu", "./usr/bin/sarv", "./usr/bin/sarv-playlist",
                           "./usr/share/man/man1/tilu.1", "./usr/share/man/man1/sarv.1",
                           "./usr/share/man/man1/sarv-playlist.1",
                           "./usr/share/applications/tilu.desktop"})
    EXPECT_NE(contents.out.find(std::string(" ") + file + "\n"), std::string::npos) << file;
  EXPECT_EQ(contents.out.find("tilu-channels"), std::string::npos);
  EXPECT_EQ(contents.out.find("tilu-relay"), std::string::npos);
}

}  // namespace
