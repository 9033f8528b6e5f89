// The tilurtpsrc element on its own: registration, the "uri" property and URI handler, start,
// restart, failures, and the pad-added handler.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "glib_ptr.h"
#include "gst_ptr.h"
#include "rtpsrc_test_support.h"
#include "tilu_gst_plugin_rtpsrc.h"
#include "tilu_gst_rtpsrc_element.h"

namespace {

using glibx::CharPtr;
using ElementRef = glibx::Ref<GstElement>;
using rtpsrctest::LogCapture;
using rtpsrctest::WeakObserver;

std::string string_property(gpointer object, const char* name) {
  gchar* value = nullptr;
  g_object_get(object, name, &value, nullptr);
  CharPtr owned(value);
  return value ? value : "(null)";
}

int int_property(gpointer object, const char* name) {
  gint value = -1;
  g_object_get(object, name, &value, nullptr);
  return value;
}

// A pipeline holding one tilurtpsrc.
struct SrcPipeline {
  ElementRef pipeline = ElementRef::wrap(gst_pipeline_new("p"));
  GstElement* element = nullptr;  // owned by the pipeline

  explicit SrcPipeline(const char* uri) {
    element = gst_element_factory_make("tilurtpsrc", nullptr);
    EXPECT_NE(element, nullptr);
    if (uri) g_object_set(element, "uri", uri, nullptr);
    gst_bin_add(GST_BIN(pipeline.get()), element);
  }
  ~SrcPipeline() {
    if (pipeline) gst_element_set_state(pipeline.get(), GST_STATE_NULL);
  }
  GstTILURtpSrc* src() const { return GST_TILU_RTPSRC(element); }
  GstStateChangeReturn set_state(GstState state) {
    GstStateChangeReturn ret = gst_element_set_state(pipeline.get(), state);
    if (ret == GST_STATE_CHANGE_ASYNC) ret = gst_element_get_state(pipeline.get(), nullptr, nullptr, 5 * GST_SECOND);
    return ret;
  }
  // The first error message on the bus, or null.
  glibx::MessageRef pop_error() {
    auto bus = glibx::Ref<GstBus>::adopt(gst_element_get_bus(pipeline.get()));
    return glibx::MessageRef::adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
  }
};

// Takes a factory out of the registry for the scope, as on a system lacking its plug-in.
class HiddenFeature {
 public:
  explicit HiddenFeature(const char* name)
      : feature_(glibx::Ref<GstPluginFeature>::adopt(gst_registry_lookup_feature(gst_registry_get(), name))) {
    EXPECT_TRUE(feature_) << name;
    if (feature_) gst_registry_remove_feature(gst_registry_get(), feature_.get());
  }
  ~HiddenFeature() {
    if (feature_) gst_registry_add_feature(gst_registry_get(), feature_.get());
  }

 private:
  glibx::Ref<GstPluginFeature> feature_;
};

TEST(TiluRtpSrcRegistration, StaticPluginFactoryAndTemplate) {
  auto factory = glibx::Ref<GstElementFactory>::adopt(gst_element_factory_find("tilurtpsrc"));
  ASSERT_TRUE(factory);
  auto* feature = GST_PLUGIN_FEATURE(factory.get());
  EXPECT_EQ(gst_plugin_feature_get_rank(feature), guint(GST_RANK_NONE));
  EXPECT_STREQ(gst_plugin_feature_get_plugin_name(feature), "tilurtpsrc");
  EXPECT_STREQ(gst_element_factory_get_metadata(factory.get(), GST_ELEMENT_METADATA_LONGNAME), "tilurtpsrc");
  EXPECT_STREQ(gst_element_factory_get_metadata(factory.get(), GST_ELEMENT_METADATA_KLASS), "Generic/Bin/Src");
  EXPECT_STREQ(gst_element_factory_get_metadata(factory.get(), GST_ELEMENT_METADATA_DESCRIPTION), "TILU RTP Src");
  EXPECT_NE(gst_element_factory_get_metadata(factory.get(), GST_ELEMENT_METADATA_AUTHOR), nullptr);

  EXPECT_EQ(gst_element_factory_get_uri_type(factory.get()), GST_URI_SRC);
  const gchar* const* protocols = gst_element_factory_get_uri_protocols(factory.get());
  ASSERT_NE(protocols, nullptr);
  EXPECT_STREQ(protocols[0], "krtp");
  EXPECT_EQ(protocols[1], nullptr);
  EXPECT_TRUE(gst_uri_protocol_is_supported(GST_URI_SRC, "krtp"));

  ASSERT_EQ(gst_element_factory_get_num_pad_templates(factory.get()), 1u);
  auto* templ = static_cast<GstStaticPadTemplate*>(gst_element_factory_get_static_pad_templates(factory.get())->data);
  EXPECT_STREQ(templ->name_template, "src");
  EXPECT_EQ(templ->direction, GST_PAD_SRC);
  EXPECT_EQ(templ->presence, GST_PAD_SOMETIMES);
  EXPECT_STREQ(templ->static_caps.string, "application/x-rtp");

  auto plugin = glibx::Ref<GstPlugin>::adopt(gst_registry_find_plugin(gst_registry_get(), "tilurtpsrc"));
  ASSERT_TRUE(plugin);
  EXPECT_STREQ(gst_plugin_get_description(plugin.get()), "RTP protocol for tilu");
  EXPECT_STREQ(gst_plugin_get_version(plugin.get()), "0.8");
  EXPECT_STREQ(gst_plugin_get_license(plugin.get()), "GPL");
  EXPECT_STREQ(gst_plugin_get_source(plugin.get()), "tilu");
  EXPECT_STREQ(gst_plugin_get_package(plugin.get()), "tilu");
  EXPECT_NE(gst_plugin_get_origin(plugin.get()), nullptr);
  EXPECT_EQ(gst_plugin_get_filename(plugin.get()), nullptr) << "compiled in, nothing loaded from disk";

  // Registering again adds no second plug-in.
  EXPECT_TRUE(gst_tilu_rtpsrc_plugin_register());
  GList* plugins = gst_registry_get_plugin_list(gst_registry_get());
  int named = 0;
  for (GList* l = plugins; l; l = l->next)
    if (g_strcmp0(gst_plugin_get_name(GST_PLUGIN(l->data)), "tilurtpsrc") == 0) named++;
  gst_plugin_list_free(plugins);
  EXPECT_EQ(named, 1);
}

TEST(TiluRtpSrcRegistration, TypeAndUriProperty) {
  GType type = g_type_from_name("GstTILURtpSrc");
  ASSERT_NE(type, G_TYPE_INVALID);
  EXPECT_EQ(g_type_parent(type), GST_TYPE_BIN);
  EXPECT_TRUE(g_type_is_a(type, GST_TYPE_URI_HANDLER));

  auto klass = static_cast<GObjectClass*>(g_type_class_ref(type));
  guint n = 0;
  GParamSpec** own = g_object_class_list_properties(klass, &n);
  g_free(own);
  GParamSpec* uri = g_object_class_find_property(klass, "uri");
  ASSERT_NE(uri, nullptr);
  EXPECT_EQ(uri->owner_type, type);
  EXPECT_EQ(uri->param_id, 1u);
  EXPECT_EQ(G_PARAM_SPEC_VALUE_TYPE(uri), G_TYPE_STRING);
  EXPECT_STREQ(g_param_spec_get_nick(uri), "URI");
  EXPECT_STREQ(g_param_spec_get_blurb(uri), "URI of the media to play");
  EXPECT_EQ(int(uri->flags), 227);
  EXPECT_EQ(G_PARAM_SPEC_STRING(uri)->default_value, nullptr);
  g_type_class_unref(klass);
}

TEST(TiluRtpSrcUriHandler, GetUriIsAFreshCopyAndSetUriAlwaysAccepts) {
  LogCapture log;
  auto element = ElementRef::wrap(gst_element_factory_make("tilurtpsrc", nullptr));
  ASSERT_TRUE(element);
  EXPECT_EQ(log.count("tilurtpsrc initialized"), 1);
  auto* handler = GST_URI_HANDLER(element.get());
  EXPECT_EQ(gst_uri_handler_get_uri_type(handler), GST_URI_SRC);
  EXPECT_EQ(gst_uri_handler_get_uri(handler), nullptr);

  // Nothing is validated here: a bad URI shows when the element starts.
  // (The framework's wrappers refuse other schemes and invalid URIs themselves; the element's
  // own operations are called directly to show that they take and give back anything.)
  auto set_uri = GST_URI_HANDLER_GET_INTERFACE(handler)->set_uri;
  auto get_uri = GST_URI_HANDLER_GET_INTERFACE(handler)->get_uri;
  for (const char* uri : {"krtp://239.1.1.1:5000", "krtp://[ff15::1:5000", "not a uri at all"}) {
    SCOPED_TRACE(uri);
    GError* error = nullptr;
    EXPECT_TRUE(set_uri(handler, uri, &error));
    EXPECT_EQ(error, nullptr);
    CharPtr first(get_uri(handler));
    CharPtr second(get_uri(handler));
    EXPECT_STREQ(first.get(), uri);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(first.get(), GST_TILU_RTPSRC(element.get())->uri);
    EXPECT_EQ(string_property(element.get(), "uri"), uri);
  }
  g_object_set(element.get(), "uri", nullptr, nullptr);
  EXPECT_EQ(gst_uri_handler_get_uri(handler), nullptr);
  GError* error = nullptr;
  EXPECT_TRUE(gst_uri_handler_set_uri(handler, "krtp://@239.1.1.2:5002", &error));
  EXPECT_EQ(string_property(element.get(), "uri"), "krtp://@239.1.1.2:5002");
  EXPECT_STREQ(CharPtr(gst_uri_handler_get_uri(handler)).get(), "krtp://@239.1.1.2:5002");

  // playbin's route: a factory chosen by scheme, the URI handed through the handler.
  auto made = ElementRef::wrap(gst_element_make_from_uri(GST_URI_SRC, "krtp://239.1.2.3:5000", nullptr, &error));
  ASSERT_TRUE(made) << (error ? error->message : "");
  EXPECT_TRUE(GST_IS_TILU_RTPSRC(made.get()));
  EXPECT_EQ(string_property(made.get(), "uri"), "krtp://239.1.2.3:5000");
}

TEST(TiluRtpSrcProperties, UnknownPropertyIdWarnsAndChangesNothing) {
  auto element = ElementRef::wrap(gst_element_factory_make("tilurtpsrc", nullptr));
  g_object_set(element.get(), "uri", "krtp://239.1.1.1:5000", nullptr);
  GParamSpec* bogus = g_param_spec_ref_sink(g_param_spec_string("bogus", "b", "b", nullptr, G_PARAM_READWRITE));
  GObjectClass* klass = G_OBJECT_GET_CLASS(element.get());

  GValue value = G_VALUE_INIT;
  g_value_init(&value, G_TYPE_STRING);
  g_value_set_string(&value, "krtp://239.9.9.9:9");
  {
    rtpsrctest::WarningCapture warnings;
    klass->set_property(G_OBJECT(element.get()), 2, &value, bogus);
    klass->get_property(G_OBJECT(element.get()), 7, &value, bogus);
    ASSERT_EQ(warnings.messages().size(), 2u);
    for (const auto& [message, id] : {std::pair{warnings.messages()[0], 2}, std::pair{warnings.messages()[1], 7}}) {
      std::string tail = ": invalid property id " + std::to_string(id) +
                         " for \"bogus\" of type 'GParamString' in 'GstTILURtpSrc'";
      EXPECT_NE(message.find("tilu_gst_plugin_rtpsrc.cpp:"), std::string::npos) << message;
      ASSERT_GE(message.size(), tail.size());
      EXPECT_EQ(message.substr(message.size() - tail.size()), tail);
    }
  }
  EXPECT_STREQ(g_value_get_string(&value), "krtp://239.9.9.9:9") << "get left the value alone";
  EXPECT_EQ(string_property(element.get(), "uri"), "krtp://239.1.1.1:5000");
  g_value_unset(&value);
  g_param_spec_unref(bogus);
}

TEST(TiluRtpSrcStart, UriBeforeStartIsStoredThenConfiguresTheUdpSource) {
  LogCapture log;
  SrcPipeline p("krtp://239.255.7.1:5004");
  // Before the start: stored, nothing built, also in READY.
  EXPECT_EQ(p.src()->udpsrc, nullptr);
  g_object_set(p.element, "uri", "krtp://user@239.255.7.1:5006", nullptr);
  ASSERT_EQ(p.set_state(GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
  EXPECT_EQ(GST_BIN_NUMCHILDREN(p.element), 0);
  EXPECT_EQ(p.src()->udpsrc, nullptr);
  EXPECT_EQ(p.src()->rtpbin, nullptr);

  ASSERT_EQ(p.set_state(GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL) << "a live source";
  EXPECT_EQ(log.count("Configuring tilurtpsrc"), 1);
  EXPECT_EQ(log.count("Creating elements"), 1);
  for (const auto& line : log.lines())
    if (line.text == "Creating elements") {
      EXPECT_TRUE(line.has_object);
    }

  ASSERT_EQ(GST_BIN_NUMCHILDREN(p.element), 2);
  GstElement* udpsrc = p.src()->udpsrc;
  ASSERT_NE(udpsrc, nullptr);
  ASSERT_NE(p.src()->rtpbin, nullptr);
  EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(udpsrc)), "udpsrc");
  EXPECT_STREQ(GST_OBJECT_NAME(gst_element_get_factory(p.src()->rtpbin)), "rtpbin");
  EXPECT_EQ(GST_OBJECT_PARENT(udpsrc), GST_OBJECT(p.element));
  EXPECT_EQ(string_property(udpsrc, "uri"), "udp://239.255.7.1:5006");
  EXPECT_EQ(string_property(udpsrc, "address"), "239.255.7.1");
  EXPECT_EQ(int_property(udpsrc, "port"), 5006);

  GstCaps* caps = nullptr;
  g_object_get(udpsrc, "caps", &caps, nullptr);
  auto owned_caps = glibx::CapsRef::adopt(caps);
  auto expected = glibx::CapsRef::adopt(
      gst_caps_from_string("application/x-rtp, media=(string)video, clock-rate=(int)90000, payload=(int)33"));
  ASSERT_NE(caps, nullptr);
  EXPECT_TRUE(gst_caps_is_strictly_equal(caps, expected.get())) << CharPtr(gst_caps_to_string(caps)).get();

  // RTP session 0 is fed by the UDP source.
  auto sink = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(p.src()->rtpbin, "recv_rtp_sink_0"));
  ASSERT_TRUE(sink);
  auto peer = glibx::Ref<GstPad>::adopt(gst_pad_get_peer(sink.get()));
  ASSERT_TRUE(peer);
  EXPECT_EQ(GST_OBJECT_PARENT(peer.get()), GST_OBJECT(udpsrc));

  // After the start the UDP source follows every URI that parses and keeps its address otherwise.
  struct After {
    const char* uri;
    const char* address;
    int port;
  };
  for (const After& a : {After{"krtp://239.255.7.2:6000", "239.255.7.2", 6000},
                         After{"krtp://user@[ff15::9]:6002", "ff15::9", 6002},
                         After{"krtp://[ff15::1:5000", "ff15::9", 6002},
                         After{"rtp://239.255.7.3:7000", "ff15::9", 6002},
                         After{"krtp://239.255.7.4", "239.255.7.4", 0}}) {
    SCOPED_TRACE(a.uri);
    g_object_set(p.element, "uri", a.uri, nullptr);
    EXPECT_EQ(string_property(p.element, "uri"), a.uri);
    EXPECT_EQ(p.src()->udpsrc, udpsrc);
    EXPECT_EQ(string_property(udpsrc, "address"), a.address);
    EXPECT_EQ(int_property(udpsrc, "port"), a.port);
  }
  EXPECT_EQ(GST_BIN_NUMCHILDREN(p.element), 2);
}

TEST(TiluRtpSrcStart, UriThatCannotBeReceivedFailsWithAnError) {
  // A URI the parser rejects must not leave the element listening on the UDP source's default
  // port; an empty host fails in the UDP source itself, which posts nothing of its own. Either
  // way the bus says why.
  struct Bad {
    const char* uri;
    bool start_fails;  // the element's own start refuses (else a child fails)
  };
  for (const Bad& bad : {Bad{nullptr, true}, Bad{"krtp://[ff15::1:5000", true}, Bad{"krtp://%zz:5000", true},
                         Bad{"rtp://239.255.7.1:5004", true}, Bad{"krtp://", false}}) {
    SCOPED_TRACE(bad.uri ? bad.uri : "(no uri)");
    LogCapture log;
    SrcPipeline p(bad.uri);
    EXPECT_EQ(p.set_state(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    auto error = p.pop_error();
    ASSERT_TRUE(error);
    EXPECT_EQ(log.count("Start failed"), bad.start_fails ? 1 : 0);
    if (bad.start_fails) {
      EXPECT_EQ(GST_MESSAGE_SRC(error.get()), GST_OBJECT(p.element));
      EXPECT_EQ(GST_BIN_NUMCHILDREN(p.element), 0) << "nothing half-built stays behind";
      EXPECT_EQ(p.src()->udpsrc, nullptr);
      EXPECT_EQ(p.src()->rtpbin, nullptr);
    }
  }
}

TEST(TiluRtpSrcStart, MissingFactoryFailsReadyToPaused) {
  for (const char* factory : {"udpsrc", "rtpbin"}) {
    SCOPED_TRACE(factory);
    LogCapture log;
    SrcPipeline p("krtp://239.255.7.1:5004");
    {
      HiddenFeature hidden(factory);
      EXPECT_EQ(p.set_state(GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
      EXPECT_EQ(log.count("Start failed"), 1);
      auto error = p.pop_error();
      ASSERT_TRUE(error);
      GError* gerror = nullptr;
      gst_message_parse_error(error.get(), &gerror, nullptr);
      EXPECT_TRUE(g_error_matches(gerror, GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN));
      EXPECT_NE(std::string(gerror->message).find(factory), std::string::npos) << gerror->message;
      g_error_free(gerror);
      EXPECT_EQ(GST_BIN_NUMCHILDREN(p.element), 0);
      EXPECT_EQ(p.src()->udpsrc, nullptr);
      EXPECT_EQ(p.src()->rtpbin, nullptr);
      ASSERT_EQ(p.set_state(GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    }
    // With the factory back the same element starts.
    EXPECT_EQ(p.set_state(GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
    EXPECT_EQ(GST_BIN_NUMCHILDREN(p.element), 2);
  }
}

TEST(TiluRtpSrcStart, RestartAfterReadyReusesTheChildren) {
  LogCapture log;
  auto p = std::make_unique<SrcPipeline>("krtp://239.255.7.1:5004");
  ASSERT_NE(p->set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  GstElement* udpsrc = p->src()->udpsrc;
  GstElement* rtpbin = p->src()->rtpbin;
  WeakObserver element_alive(p->element), udpsrc_alive(udpsrc), rtpbin_alive(rtpbin);

  for (int i = 1; i <= 4; i++) {
    ASSERT_EQ(p->set_state(GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    std::string uri = "krtp://239.255.7." + std::to_string(10 + i) + ":" + std::to_string(5010 + i);
    g_object_set(p->element, "uri", uri.c_str(), nullptr);
    ASSERT_NE(p->set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    EXPECT_EQ(GST_BIN_NUMCHILDREN(p->element), 2);
    EXPECT_EQ(p->src()->udpsrc, udpsrc);
    EXPECT_EQ(p->src()->rtpbin, rtpbin);
    EXPECT_EQ(string_property(udpsrc, "uri"), "udp://239.255.7." + std::to_string(10 + i) + ":" +
                                                  std::to_string(5010 + i));
  }
  EXPECT_EQ(log.count("Creating elements"), 1);
  EXPECT_EQ(log.count("Reusing elements"), 4);

  // A URI that stopped parsing while down: the restart refuses like a first start would.
  ASSERT_EQ(p->set_state(GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
  g_object_set(p->element, "uri", "krtp://[broken", nullptr);
  EXPECT_EQ(p->set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  EXPECT_TRUE(p->pop_error());
  EXPECT_EQ(GST_BIN_NUMCHILDREN(p->element), 2);

  p.reset();
  EXPECT_FALSE(element_alive.alive());
  EXPECT_FALSE(udpsrc_alive.alive());
  EXPECT_FALSE(rtpbin_alive.alive());
}

TEST(TiluRtpSrcStart, SetUpAndTearDownLeaveNothingAlive) {
  for (int i = 0; i < 15; i++) {
    auto p = std::make_unique<SrcPipeline>("krtp://239.255.7.1:5004");
    ASSERT_NE(p->set_state(GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    WeakObserver element(p->element), udpsrc(p->src()->udpsrc), rtpbin(p->src()->rtpbin);
    if (i % 2) {
      ASSERT_EQ(p->set_state(GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    }
    p.reset();
    ASSERT_FALSE(element.alive());
    ASSERT_FALSE(udpsrc.alive());
    ASSERT_FALSE(rtpbin.alive());
  }
}

// The element's own "pad-added" and "no-more-pads" emissions.
struct PadSignals {
  std::atomic<int> pad_added{0};
  std::atomic<int> no_more_pads{0};
  explicit PadSignals(GstElement* element) {
    g_signal_connect(element, "pad-added", G_CALLBACK(+[](GstElement*, GstPad*, gpointer d) {
                       static_cast<PadSignals*>(d)->pad_added++;
                     }),
                     this);
    g_signal_connect(element, "no-more-pads", G_CALLBACK(+[](GstElement*, gpointer d) {
                       static_cast<PadSignals*>(d)->no_more_pads++;
                     }),
                     this);
  }
};

glibx::Ref<GstPad> target_of(GstTILURtpSrc* src) {
  return glibx::Ref<GstPad>::adopt(gst_ghost_pad_get_target(GST_GHOST_PAD(src->ghost_pad)));
}

TEST(TiluRtpSrcPadAdded, IgnoresForeignPadsThenExposesOneGhostThatFollowsTheNewest) {
  LogCapture log;
  SrcPipeline p("krtp://239.255.7.1:5004");
  PadSignals signals(p.element);
  ASSERT_EQ(p.set_state(GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
  GstElement* rtpbin = p.src()->rtpbin;

  // A real rtpbin pad without the prefix.
  auto rtcp = glibx::Ref<GstPad>::adopt(gst_element_request_pad_simple(rtpbin, "send_rtcp_src_0"));
  ASSERT_TRUE(rtcp);
  EXPECT_EQ(log.count("adding a pad send_rtcp_src_0"), 1);
  EXPECT_EQ(log.count("Pad name does not start with recv_rtp_src_"), 1);
  gst_element_release_request_pad(rtpbin, rtcp.get());

  // A sink pad carrying the prefix.
  auto sink = glibx::Ref<GstPad>::wrap(gst_pad_new("recv_rtp_src_0_7_33", GST_PAD_SINK));
  g_signal_emit_by_name(rtpbin, "pad-added", sink.get());
  EXPECT_EQ(log.count("Pad is not src pad"), 1);
  EXPECT_EQ(signals.pad_added, 0);
  EXPECT_EQ(p.src()->num_pads, 0);

  auto first = glibx::Ref<GstPad>::wrap(gst_pad_new("recv_rtp_src_0_1111_33", GST_PAD_SRC));
  g_signal_emit_by_name(rtpbin, "pad-added", first.get());
  EXPECT_EQ(log.count("adding a pad recv_rtp_src_0_1111_33"), 1);
  EXPECT_EQ(signals.pad_added, 1);
  EXPECT_EQ(signals.no_more_pads, 1);
  EXPECT_EQ(p.src()->num_pads, 1);
  auto ghost = glibx::Ref<GstPad>::adopt(gst_element_get_static_pad(p.element, "src"));
  ASSERT_TRUE(ghost);
  EXPECT_EQ(ghost.get(), p.src()->ghost_pad);
  EXPECT_TRUE(gst_pad_is_active(ghost.get()));
  EXPECT_EQ(target_of(p.src()).get(), first.get());

  auto second = glibx::Ref<GstPad>::wrap(gst_pad_new("recv_rtp_src_0_2222_33", GST_PAD_SRC));
  g_signal_emit_by_name(rtpbin, "pad-added", second.get());
  EXPECT_EQ(log.count("Ignore SSRC"), 1);
  EXPECT_EQ(target_of(p.src()).get(), second.get());
  EXPECT_EQ(signals.pad_added, 1);
  EXPECT_EQ(signals.no_more_pads, 1);
  EXPECT_EQ(p.element->numsrcpads, 1);
}

TEST(TiluRtpSrcPadAdded, SourcesArrivingTogetherShareOneGhostPad) {
  constexpr int kThreads = 4;
  constexpr int kPadsPerThread = 25;
  LogCapture log;
  SrcPipeline p("krtp://239.255.7.1:5004");
  PadSignals signals(p.element);
  ASSERT_EQ(p.set_state(GST_STATE_PAUSED), GST_STATE_CHANGE_NO_PREROLL);
  GstElement* rtpbin = p.src()->rtpbin;

  std::vector<glibx::Ref<GstPad>> pads;
  for (int i = 0; i < kThreads * kPadsPerThread; i++) {
    std::string name = "recv_rtp_src_0_" + std::to_string(1000 + i) + "_33";
    pads.push_back(glibx::Ref<GstPad>::wrap(gst_pad_new(name.c_str(), GST_PAD_SRC)));
  }
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++)
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kPadsPerThread; i++)
        g_signal_emit_by_name(rtpbin, "pad-added", pads[t * kPadsPerThread + i].get());
    });
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(signals.pad_added, 1);
  EXPECT_EQ(signals.no_more_pads, 1);
  EXPECT_EQ(p.src()->num_pads, 1);
  EXPECT_EQ(p.element->numsrcpads, 1);
  EXPECT_EQ(log.count("Ignore SSRC"), kThreads * kPadsPerThread - 1);
  auto target = target_of(p.src());
  ASSERT_TRUE(target);
  int linked = 0;
  for (auto& pad : pads) linked += gst_pad_is_linked(pad.get()) ? 1 : 0;
  EXPECT_EQ(linked, 1) << "exactly one target at a time";
}

}  // namespace
