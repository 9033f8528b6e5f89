// Wall fill: the time from tilu's start until every tile of a 9- and a 25-channel wall shows a
// picture, with 1 and 3 scan jobs, against bare scan pipelines (playbin, scaled, into a fake
// sink) run the same number at a time, one after another, on the same channels.
#pragma once

#include <string>

#include "bench_table.h"

namespace bench {

void run_fill_section(Table& table, int trials, const std::string& work_dir);

}  // namespace bench
