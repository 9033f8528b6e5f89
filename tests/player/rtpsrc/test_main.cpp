// Every tilurtpsrc test process lives in a network namespace of its own: the element joins
// multicast groups, and nothing it joins or receives may touch the host's network.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include "test_env.h"
#include "tilu_gst_plugin_rtpsrc.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!GTEST_FLAG_GET(list_tests)) tilutest::enter_private_netns();
  gst_init(&argc, &argv);
  if (!gst_tilu_rtpsrc_plugin_register()) {
    fprintf(stderr, "registering tilurtpsrc failed\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}
