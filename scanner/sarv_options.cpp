#include "sarv_options.h"

#include <gst/gst.h>

#include "sarv_main.h"

namespace {
const gchar kDefaultOutput[] = "sarv_out";
}

namespace sarv_opt {
gint interface = 0;
gboolean list_inteface = FALSE;
gint jobs = 1;
// The parser replaces this pointer with an allocated copy when -o is given (it never frees
// the initial value), so the default points at a constant.
gchar* output = const_cast<gchar*>(kDefaultOutput);
gint sleep = 1000;
gint timeout = 10000;
gboolean quiet = FALSE;
}  // namespace sarv_opt

OptionContextPtr sarv_options_context_new() {
  using sarv_opt::interface, sarv_opt::list_inteface, sarv_opt::jobs, sarv_opt::output,
      sarv_opt::timeout, sarv_opt::quiet;
  static GOptionEntry entries[] = {
      {"interface", 'i', 0, G_OPTION_ARG_INT, &interface, "Network device interface index",
       "dev_idx"},
      {"list-inteface", 'l', 0, G_OPTION_ARG_NONE, &list_inteface, "List network device interfaces",
       nullptr},
      {"jobs", 'j', 0, G_OPTION_ARG_INT, &jobs, "Number of jobs", "jobs"},
      {"output", 'o', 0, G_OPTION_ARG_FILENAME, &output, "Output directory name", "dirname"},
      {"sleep", 's', 0, G_OPTION_ARG_INT, &sarv_opt::sleep,
       "Sleep time(milliseconds) between scans", "ms"},
      {"timeout", 't', 0, G_OPTION_ARG_INT, &timeout, "Timeout time(milliseconds) in each scan",
       "ms"},
      {"quiet", 'q', 0, G_OPTION_ARG_NONE, &quiet, "Print no log except for errors", nullptr},
      {}};
  OptionContextPtr context(g_option_context_new("<multicast ip address or net ... [#N]>"));
  g_option_context_set_summary(context.get(),
                               "sarv scans to find free video streaming multicast ip addresses.");
  g_option_context_set_description(context.get(),
                                   "Sarvscan 0.2 is Written by the tilu and sarv developers.\n"
                                   "https://tilu.example.org/sarv\n");
  g_option_context_add_main_entries(context.get(), entries, nullptr);
  g_option_context_add_group(context.get(), gst_init_get_option_group());
  return context;
}

glibx::CharPtr sarv_options_refusal() {
  const gint jobs = sarv_opt::jobs, sleep_ms = sarv_opt::sleep;
  if (jobs < 1) return glibx::CharPtr(g_strdup_printf("jobs(%d) must be 1 or more\n", jobs));
  if (sleep_ms < 0 || sleep_ms > kSarvSleepMaxMs)
    return glibx::CharPtr(
        g_strdup_printf("sleep(%d) must be from 0 to %d ms\n", sleep_ms, kSarvSleepMaxMs));
  return nullptr;
}

void sarv_options_free() {
  if (sarv_opt::output != kDefaultOutput) g_free(sarv_opt::output);
  sarv_opt::output = const_cast<gchar*>(kDefaultOutput);
}
