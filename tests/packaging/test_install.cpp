// `cmake --install` into a temporary prefix: exactly the programs, manual pages and desktop
// entry land in the usual places, the installed programs run from there, the desktop entry
// validates and the manual pages render without a warning.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "test_env.h"

namespace {

// Every file under root, as paths relative to it.
void list_files(const std::string& root, const std::string& sub, std::set<std::string>& files) {
  std::string path = sub.empty() ? root : root + "/" + sub;
  GDir* dir = g_dir_open(path.c_str(), 0, nullptr);
  if (!dir) return;
  while (const gchar* name = g_dir_read_name(dir)) {
    std::string rel = sub.empty() ? name : sub + "/" + name;
    if (g_file_test((root + "/" + rel).c_str(), G_FILE_TEST_IS_DIR))
      list_files(root, rel, files);
    else
      files.insert(rel);
  }
  g_dir_close(dir);
}

const char* const kManualPages[] = {"tilu.1", "sarv.1", "sarv-playlist.1"};

class Install : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new tilutest::TempDir();
    install_ = tilutest::run_capture(
        {TILU_CMAKE_COMMAND, "--install", TILU_BUILD_DIR, "--prefix", prefix_->path()}, 120000);
  }
  static void TearDownTestSuite() {
    delete prefix_;
    prefix_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(install_.exit_code, 0) << install_.out << install_.err; }
  static std::string installed(const std::string& rel) { return prefix_->file(rel); }

  static inline tilutest::TempDir* prefix_ = nullptr;
  static inline tilutest::RunResult install_;
};

TEST_F(Install, TheUsualPlacesAndNothingElse) {
  std::set<std::string> expected = {"bin/tilu",
                                    "bin/sarv",
                                    "bin/sarv-playlist",
                                    "share/applications/tilu.desktop",
                                    "share/man/man1/tilu.1",
                                    "share/man/man1/sarv.1",
                                    "share/man/man1/sarv-playlist.1"};
#ifdef TILU_INSTALLS_TEST_TOOLS
  expected.insert({"bin/tilu-channels", "bin/tilu-relay"});
#endif
  std::set<std::string> files;
  list_files(prefix_->path(), "", files);
  EXPECT_EQ(files, expected);
  for (const char* program : {"bin/tilu", "bin/sarv", "bin/sarv-playlist"})
    EXPECT_TRUE(g_file_test(installed(program).c_str(), G_FILE_TEST_IS_EXECUTABLE)) << program;
}

TEST_F(Install, ProgramsRunFromThePrefix) {
  tilutest::RunResult sarv = tilutest::run_capture({installed("bin/sarv"), "--help"});
  EXPECT_EQ(sarv.exit_code, 0) << sarv.err;
  EXPECT_NE(sarv.out.find("sarv scans to find free video streaming multicast ip addresses."),
            std::string::npos)
      << sarv.out;

  tilutest::RunResult playlist = tilutest::run_capture({installed("bin/sarv-playlist"), "--help"});
  EXPECT_EQ(playlist.exit_code, 0) << playlist.err;
  EXPECT_NE(playlist.out.find("sarv-playlist"), std::string::npos) << playlist.out;

  tilutest::XvfbDisplay display(320, 240);
  tilutest::RunResult tilu = tilutest::run_capture({installed("bin/tilu"), "--version"});
  EXPECT_EQ(tilu.exit_code, 0) << tilu.out << tilu.err;
  EXPECT_EQ(tilu.out.substr(0, 13), "Tiluplay 0.8\n") << tilu.out;
}

TEST_F(Install, DesktopEntryValidatesAndOpensAPlaylist) {
  std::string entry = installed("share/applications/tilu.desktop");
  tilutest::RunResult r = tilutest::run_capture({"desktop-file-validate", entry});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out + r.err, "");
  std::string text = tilutest::read_text_file(entry);
  EXPECT_NE(text.find("\nExec=tilu %f\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
}

TEST_F(Install, ManualPagesLintClean) {
  for (const char* page : kManualPages) {
    SCOPED_TRACE(page);
    std::string path = installed(std::string("share/man/man1/") + page);
    tilutest::RunResult lint = tilutest::run_capture({"mandoc", "-T", "lint", "-W", "all", path});
    EXPECT_EQ(lint.exit_code, 0);
    EXPECT_EQ(lint.out + lint.err, "");
    tilutest::RunResult groff = tilutest::run_capture({"groff", "-ww", "-man", "-z", path});
    EXPECT_EQ(groff.exit_code, 0);
    EXPECT_EQ(groff.out + groff.err, "");
    // What `man -l` shows, without the overstrike of bold letters: the page's sections.
    tilutest::RunResult text = tilutest::run_capture({"mandoc", "-T", "ascii", path});
    EXPECT_EQ(text.exit_code, 0);
    std::string plain;
    for (char c : text.out) {
      if (c == '\b' && !plain.empty())
        plain.pop_back();
      else
        plain += c;
    }
    for (const char* section : {"\nNAME\n", "\nSYNOPSIS\n", "\nDESCRIPTION\n", "\nOPTIONS\n",
                                "\nEXIT STATUS\n", "\nSEE ALSO\n"})
      EXPECT_NE(plain.find(section), std::string::npos) << section;
  }
}

}  // namespace
