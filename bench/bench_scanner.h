// The scanner's figures on a real Ethernet link (a veth pair to a sender namespace): a live
// address against a bare snapshot playbin on the same stream, a silent address against its
// time limit, and a /28 with four live groups against one silent address.
#pragma once

#include <string>

#include "bench_table.h"

namespace bench {

void run_scanner_section(Table& table, int trials, const std::string& work_dir);

}  // namespace bench
