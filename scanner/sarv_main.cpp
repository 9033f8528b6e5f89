// sarv: finds the IPv4 multicast groups that carry UDP streams and saves one PNG per stream.
#include "sarv_main.h"

#include <cstdio>
#include <string>

#include "glib_ptr.h"
#include "sarv_options.h"
#include "sarv_output.h"
#include "sarv_targets.h"

namespace {

struct DeviceTable {
  ~DeviceTable() { sarv_dev_free(); }
};

struct OptionValues {
  ~OptionValues() { sarv_options_free(); }
};

int _sarv_usage(GOptionContext* context) {
  glibx::CharPtr help(g_option_context_get_help(context, TRUE, nullptr));
  g_print("%s", help.get());
  return -2;
}

}  // namespace

int main(int argc, char** argv) {
  // Progress shows line by line also when the output goes to a pipe or a log file.
  setvbuf(stdout, nullptr, _IOLBF, 0);

  if (sarv_dev_init() != 0) return -1;
  DeviceTable device_table;
  OptionValues option_values;

  OptionContextPtr context = sarv_options_context_new();
  glibx::Error error;
  if (!g_option_context_parse(context.get(), &argc, &argv, error.out())) {
    g_print("option parsing failed: %s\n", error.message());
    return -2;
  }
  if (sarv_opt::list_inteface) {
    sarv_dev_print();
    return 0;
  }
  if (sarv_opt::interface < 0) {
    // The parser takes any integer; a negative index names no device.
    g_print("dev_idx(%d) is not a device index, see -l\n", sarv_opt::interface);
    return _sarv_usage(context.get());
  }
  if (argc < 2 || sarv_opt::interface >= num_devs) return _sarv_usage(context.get());
  if (glibx::CharPtr refusal = sarv_options_refusal()) {
    g_print("%s", refusal.get());
    return -2;
  }

  if (std::string problem = sarv_output_prepare(sarv_opt::output); !problem.empty()) {
    g_print("%s", problem.c_str());
    return kSarvOutputUnusable;
  }

  int count = argc - 1;
  char** targets = argv + 1;
  SarvTargetCheck check = sarv_targets_check(count, targets);
  if (check.status != 0) {
    g_print("%s", check.message.c_str());
    return check.status;
  }

  SarvGroupList list{check.ranges.data(), gint32(check.ranges.size()), 0, check.total};
  sarv_scan(&list);
  return 0;
}
