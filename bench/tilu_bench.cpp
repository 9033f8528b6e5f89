// The benchmark suite: starts its own channels in a private network namespace (and Xvfb for
// the player), measures the programs and, in the same run and interleaved with them, the bare
// framework pipelines that do the same work, and prints one table of figures beside their
// floors; the same table is written as JSON. Needs root.
//
//   tilu-bench [--short] [--trials N] [--json FILE] [--only scanner|fill|live] [--keep DIR]
//
// --short runs few trials, short windows and small live channels: it shows that every figure
// can be measured. The
// exit status is 1 when a figure could not be measured, whatever the times.
#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "bench_fill.h"
#include "bench_live.h"
#include "bench_scanner.h"
#include "bench_table.h"
#include "test_env.h"

int main(int argc, char** argv) {
  bool short_run = false;
  int trials = 0;
  std::string json = "tilu-bench.json";
  std::string only;
  std::string keep;  // a directory for the logs, kept afterwards
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--short") short_run = true;
    else if (a == "--trials" && i + 1 < argc) trials = std::atoi(argv[++i]);
    else if (a == "--json" && i + 1 < argc) json = argv[++i];
    else if (a == "--only" && i + 1 < argc) only = argv[++i];
    else if (a == "--keep" && i + 1 < argc) keep = argv[++i];
    else {
      std::fprintf(stderr, "usage: %s [--short] [--trials N] [--json FILE] [--only scanner|fill|live] [--keep DIR]\n", argv[0]);
      return 2;
    }
  }
  if (trials <= 0) trials = short_run ? 2 : 7;

  tilutest::enter_private_netns();
  tilutest::TempDir temp;
  const std::string work_dir = keep.empty() ? temp.path() : keep;
  if (!keep.empty()) g_mkdir_with_parents(keep.c_str(), 0755);
  bench::Table table;
  if (only.empty() || only == "scanner") bench::run_scanner_section(table, trials, work_dir);
  // The short run shows that the figures can be measured; small channels keep that true on a
  // loaded machine.
  const bench::LiveChannel channel = short_run ? bench::LiveChannel{320, 180, 300} : bench::LiveChannel{};
  if (only.empty() || only == "fill") bench::run_fill_section(table, short_run ? 1 : trials, work_dir);
  if (only.empty() || only == "live")
    bench::run_live_section(table, short_run ? 1 : 3, short_run ? 5 : 15, channel, work_dir);

  std::printf("tilu-bench: %d trials%s; every figure beside its floor from the same run, ratio = figure / floor\n",
              trials, short_run ? " (short run)" : "");
  std::fputs(table.text().c_str(), stdout);
  std::ofstream(json) << table.json();
  std::printf("written %s\n", json.c_str());
  auto missing = table.missing();
  for (const std::string& name : missing) std::printf("absent: %s\n", name.c_str());
  return missing.empty() ? 0 : 1;
}
