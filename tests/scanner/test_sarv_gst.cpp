// The snapshot pipeline on real UDP multicast channels, inside a private network namespace.
#include <glib/gstdio.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sarv_gst.h"
#include "sarv_test_net.h"
#include "test_env.h"

namespace {

using sarvtest::Channel;

constexpr gint64 kSnapshotWaitUs = 30 * G_USEC_PER_SEC;

// Polls like a scan worker; true when the snapshot reported its end within wait_us.
bool wait_finished(SarvGst* gst, gint64 wait_us) {
  gint64 end = g_get_monotonic_time() + wait_us;
  while (g_get_monotonic_time() < end) {
    if (sarv_gst_is_finished(gst)) return true;
    g_usleep(20000);
  }
  return false;
}

class SarvGstTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    channels_ = new tilutest::ChildProcess(sarvtest::start_channels({
        {"239.255.7.1", 5000, 320, 240},               // video and sound
        {"239.255.7.2", 5000, 352, 288, true, false},  // video only
        {"239.255.7.3", 5000, 320, 240, false, true},  // sound only: no video ever
    }));
  }
  static void TearDownTestSuite() {
    delete channels_;
    channels_ = nullptr;
  }

  tilutest::TempDir dir_;
  static inline tilutest::ChildProcess* channels_ = nullptr;
};

// Elements of a bin and all bins inside it whose factory class mentions text.
int count_elements(GstElement* bin, const char* klass_part) {
  int count = 0;
  GstIterator* it = gst_bin_iterate_recurse(GST_BIN(bin));
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* element = GST_ELEMENT(g_value_get_object(&item));
    if (GstElementFactory* f = gst_element_get_factory(element)) {
      const gchar* klass = gst_element_factory_get_metadata(f, GST_ELEMENT_METADATA_KLASS);
      if (klass && strstr(klass, klass_part)) count++;
    }
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return count;
}

TEST_F(SarvGstTest, WritesOnePngOfTheStreamsSize) {
  struct Case {
    std::string uri;
    std::uint32_t width, height;
  } cases[] = {{"udp://239.255.7.1:5000", 320, 240}, {"udp://239.255.7.2:5000", 352, 288}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uri);
    tilutest::TempDir dir;
    std::string location = dir.file("239.255.7.1-5000.png");
    SarvGst* gst = sarv_gst_open(c.uri.c_str(), location.c_str());
    ASSERT_NE(gst, nullptr);
    ASSERT_TRUE(gst->pipeline);
    GstElement* pipeline = gst->pipeline.get();
    EXPECT_STREQ(GST_OBJECT_NAME(pipeline), "play");
    ASSERT_TRUE(wait_finished(gst, kSnapshotWaitUs)) << "no end-of-stream";
    // The file is complete when the end is reported, before the close.
    EXPECT_EQ(sarvtest::list_dir(dir.path()), std::vector<std::string>{"239.255.7.1-5000.png"});
    sarvtest::PngInfo png = sarvtest::read_png(location);
    EXPECT_TRUE(png.valid) << png.problem;
    EXPECT_EQ(png.width, c.width);
    EXPECT_EQ(png.height, c.height);
    // The end was consumed by the poll that reported it.
    EXPECT_FALSE(sarv_gst_is_finished(gst));

    gpointer weak = pipeline;
    g_object_add_weak_pointer(G_OBJECT(pipeline), &weak);
    sarv_gst_close(gst);
    EXPECT_EQ(weak, nullptr) << "the pipeline outlived its handle";
    EXPECT_EQ(sarvtest::list_dir(dir.path()), std::vector<std::string>{"239.255.7.1-5000.png"});
  }
}

// Two groups on one port at the same time, as on most IPTV networks, received over an Ethernet
// link: each snapshot shows its own group's picture. (Linux hands the datagrams of all groups on
// a port to one of the sockets that udpsrc would bind to the any address with SO_REUSEPORT.)
TEST(SarvGstLink, GroupsSharingAPortKeepTheirPictures) {
  sarvtest::VethLink link;
  ASSERT_TRUE(link.ok());
  tilutest::ChildProcess sender = sarvtest::start_channels(
      {{"239.1.3.1", 5000, 176, 144, true, false}, {"239.1.3.2", 5000, 128, 96, true, false}},
      link.sender_netns());
  for (int round = 0; round < 2; round++) {
    SCOPED_TRACE(round);
    tilutest::TempDir dir;
    std::string a = dir.file("a.png"), b = dir.file("b.png");
    SarvGst* first = sarv_gst_open("udp://239.1.3.1:5000", a.c_str());
    SarvGst* second = sarv_gst_open("udp://239.1.3.2:5000", b.c_str());
    bool first_done = false, second_done = false;
    gint64 end = g_get_monotonic_time() + kSnapshotWaitUs;
    while ((!first_done || !second_done) && g_get_monotonic_time() < end) {
      first_done = first_done || sarv_gst_is_finished(first);
      second_done = second_done || sarv_gst_is_finished(second);
      g_usleep(20000);
    }
    sarv_gst_close(first);
    sarv_gst_close(second);
    EXPECT_TRUE(first_done && second_done);
    sarvtest::PngInfo pa = sarvtest::read_png(a), pb = sarvtest::read_png(b);
    EXPECT_EQ(pa.width, 176u);
    EXPECT_EQ(pa.height, 144u);
    EXPECT_EQ(pb.width, 128u);
    EXPECT_EQ(pb.height, 96u);
  }
}

TEST_F(SarvGstTest, BuildsTheSinkBinAsNamed) {
  SarvGst* gst = sarv_gst_open("udp://239.255.7.2:5000", dir_.file("x.png").c_str());
  GstElement* play = gst->pipeline.get();
  guint flags = 0;
  gboolean mute = FALSE;
  GstElement* sink = nullptr;
  g_object_get(play, "flags", &flags, "mute", &mute, "video-sink", &sink, nullptr);
  EXPECT_EQ(flags & 0x2, 0u);
  EXPECT_NE(flags & 0x1, 0u) << "video stays on";
  EXPECT_TRUE(mute);
  ASSERT_NE(sink, nullptr);
  EXPECT_STREQ(GST_OBJECT_NAME(sink), "convpngfile");
  GstElement* png = gst_bin_get_by_name(GST_BIN(sink), "png");
  GstElement* file = gst_bin_get_by_name(GST_BIN(sink), "file");
  GstElement* conv = gst_bin_get_by_name(GST_BIN(sink), "conv");
  ASSERT_TRUE(png && file && conv);
  gboolean snapshot = FALSE;
  guint level = 0, max_files = 0;
  g_object_get(png, "snapshot", &snapshot, "compression-level", &level, nullptr);
  g_object_get(file, "max-files", &max_files, nullptr);
  EXPECT_TRUE(snapshot);
  EXPECT_EQ(level, 9u);
  EXPECT_EQ(max_files, 1u);
  GstPad* ghost = gst_element_get_static_pad(sink, "sink");
  ASSERT_NE(ghost, nullptr);
  EXPECT_TRUE(GST_IS_GHOST_PAD(ghost));
  gst_object_unref(ghost);
  gst_object_unref(conv);
  gst_object_unref(file);
  gst_object_unref(png);
  gst_object_unref(sink);
  sarv_gst_close(gst);
}

// A channel with sound: the picture is taken and nothing of the sound is decoded or played.
TEST_F(SarvGstTest, DecodesNoAudio) {
  std::string location = dir_.file("shot.png");
  SarvGst* gst = sarv_gst_open("udp://239.255.7.1:5000", location.c_str());
  ASSERT_TRUE(wait_finished(gst, kSnapshotWaitUs));
  GstElement* play = gst->pipeline.get();
  EXPECT_GE(count_elements(play, "Decoder/Video"), 1);
  EXPECT_EQ(count_elements(play, "Decoder/Audio"), 0);
  EXPECT_EQ(count_elements(play, "Sink/Audio"), 0);
  sarv_gst_close(gst);
  EXPECT_TRUE(sarvtest::read_png(location).valid);
}

// The worker asks for a write error before each finished poll: neither poll may drop what the
// other one reports, so the end of stream of a written picture still ends the snapshot.
TEST_F(SarvGstTest, WriteErrorPollsKeepTheEndOfStream) {
  std::string location = dir_.file("polled.png");
  SarvGst* gst = sarv_gst_open("udp://239.255.7.1:5000", location.c_str());
  bool finished = false;
  gint64 end = g_get_monotonic_time() + kSnapshotWaitUs;
  while (!finished && g_get_monotonic_time() < end) {
    EXPECT_EQ(sarv_gst_write_error(gst), nullptr);
    finished = sarv_gst_is_finished(gst);
    if (!finished) g_usleep(20000);
  }
  EXPECT_TRUE(finished) << "the end of stream was dropped";
  sarv_gst_close(gst);
  EXPECT_TRUE(sarvtest::read_png(location).valid);
}

// Nothing arrives, or only sound: the polls stay false, the close is clean, no file is left.
TEST_F(SarvGstTest, NoVideoLeavesNoFile) {
  for (const char* uri : {"udp://239.255.7.9:5000", "udp://239.255.7.3:5000"}) {
    SCOPED_TRACE(uri);
    tilutest::TempDir dir;
    SarvGst* gst = sarv_gst_open(uri, dir.file("none.png").c_str());
    EXPECT_FALSE(wait_finished(gst, 3 * G_USEC_PER_SEC));
    gpointer weak = gst->pipeline.get();
    g_object_add_weak_pointer(G_OBJECT(weak), &weak);
    sarv_gst_close(gst);
    EXPECT_EQ(weak, nullptr);
    EXPECT_EQ(sarvtest::list_dir(dir.path()), std::vector<std::string>{});
  }
}

// The file sink takes its location as a pattern; the file still lands under the name given.
TEST_F(SarvGstTest, PercentSignsInTheLocation) {
  std::string sub = dir_.file("out%d%s%%");
  ASSERT_EQ(g_mkdir(sub.c_str(), 0755), 0);
  std::string location = sub + "/239.255.7.2-5000%n.png";
  SarvGst* gst = sarv_gst_open("udp://239.255.7.2:5000", location.c_str());
  EXPECT_TRUE(wait_finished(gst, kSnapshotWaitUs));
  sarv_gst_close(gst);
  EXPECT_EQ(sarvtest::list_dir(sub), std::vector<std::string>{"239.255.7.2-5000%n.png"});
  EXPECT_TRUE(sarvtest::read_png(location).valid);
}

// A location that cannot be written: no file, and the snapshot is not reported as written.
TEST_F(SarvGstTest, UnwritableLocation) {
  std::string location = dir_.file("missing/shot.png");
  SarvGst* gst = sarv_gst_open("udp://239.255.7.2:5000", location.c_str());
  EXPECT_FALSE(wait_finished(gst, 4 * G_USEC_PER_SEC));
  sarv_gst_close(gst);
  EXPECT_EQ(sarvtest::list_dir(dir_.path()), std::vector<std::string>{});
}

// Closing right after opening, before anything has arrived, again and again.
TEST_F(SarvGstTest, OpenCloseAtOnce) {
  for (int i = 0; i < 20; i++)
    sarv_gst_close(sarv_gst_open("udp://239.255.7.1:5000", dir_.file("x.png").c_str()));
  EXPECT_EQ(sarvtest::list_dir(dir_.path()), std::vector<std::string>{});
}

TEST(SarvGstNull, CloseOfNullDoesNothing) { sarv_gst_close(nullptr); }

// Without an encoder the open still hands back a handle: it says why, never finishes, writes
// nothing and closes cleanly. Run in a child, since the element is taken out of the registry.
TEST(SarvGstMissingDeathTest, ElementThatCannotBeCreated) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  tilutest::TempDir dir;
  std::string location = dir.file("x.png");
  EXPECT_EXIT(
      {
        GstRegistry* registry = gst_registry_get();
        GstPluginFeature* feature = gst_registry_lookup_feature(registry, "pngenc");
        if (feature) {
          gst_registry_remove_feature(registry, feature);
          gst_object_unref(feature);
        }
        SarvGst* gst = sarv_gst_open("udp://239.255.7.2:5000", location.c_str());
        bool inert = gst && !gst->pipeline && !sarv_gst_is_finished(gst);
        g_usleep(G_USEC_PER_SEC);
        sarv_gst_close(gst);
        int status = inert && sarvtest::list_dir(dir.path()).empty() ? 0 : 1;
        // exit() skips the destructors of this child's own copy of the test's locals.
        tilutest::run_command("rm -rf '" + dir.path() + "'");
        std::exit(status);
      },
      ::testing::ExitedWithCode(0), "can't create png for a snapshot: no element pngenc");
}

TEST(SarvGstNullDeathTest, PollOfNullAsserts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(sarv_gst_is_finished(nullptr), "sarv_gst.*sarv_gst_is_finished.*gst");
}

}  // namespace

int main(int argc, char** argv) {
  tilutest::enter_private_netns();
  gst_init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  return rc;
}
