// URI rewriting of tilu_gst_open: through a relay or not, with and without an installed
// element that accepts "rtp" as a source.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "glib_ptr.h"
#include "lsan_early.h"
#include "media_test_support.h"
#include "tilu_gst.h"

namespace {

// A source element that claims the "rtp" scheme and does nothing else: registering it makes
// gst_uri_protocol_is_supported(GST_URI_SRC, "rtp") true without any plug-in on disk.
struct TiluTestRtpSrc {
  GstElement parent;
};
struct TiluTestRtpSrcClass {
  GstElementClass parent_class;
};

GstURIType test_rtp_src_uri_type(GType) { return GST_URI_SRC; }
const gchar* const* test_rtp_src_protocols(GType) {
  static const gchar* const protocols[] = {"rtp", nullptr};
  return protocols;
}
gchar* test_rtp_src_get_uri(GstURIHandler*) { return g_strdup("rtp://0.0.0.0:0"); }
gboolean test_rtp_src_set_uri(GstURIHandler*, const gchar*, GError**) { return TRUE; }

void test_rtp_src_uri_init(gpointer iface, gpointer) {
  auto* uri = static_cast<GstURIHandlerInterface*>(iface);
  uri->get_type = test_rtp_src_uri_type;
  uri->get_protocols = test_rtp_src_protocols;
  uri->get_uri = test_rtp_src_get_uri;
  uri->set_uri = test_rtp_src_set_uri;
}

G_DEFINE_TYPE_WITH_CODE(TiluTestRtpSrc, tilu_test_rtp_src, GST_TYPE_ELEMENT,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, test_rtp_src_uri_init))

void tilu_test_rtp_src_class_init(TiluTestRtpSrcClass* klass) {
  gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Test RTP source", "Source/Network",
                                        "Claims the rtp scheme for tests", "tilu tests");
}
void tilu_test_rtp_src_init(TiluTestRtpSrc*) {}

// Every installed element that accepts "rtp" as a source is hidden for the scope; with
// with_element, the test element is registered instead.
class RtpRegistry {
 public:
  explicit RtpRegistry(bool with_element) {
    GList* features = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_ELEMENT_FACTORY);
    for (GList* l = features; l; l = l->next) {
      auto* factory = GST_ELEMENT_FACTORY(l->data);
      if (gst_element_factory_get_uri_type(factory) != GST_URI_SRC) continue;
      const gchar* const* protocols = gst_element_factory_get_uri_protocols(factory);
      for (; protocols && *protocols; protocols++)
        if (!g_ascii_strcasecmp(*protocols, "rtp")) {
          hidden_.push_back(std::make_unique<mediatest::HiddenFeature>(GST_OBJECT_NAME(factory)));
          break;
        }
    }
    gst_plugin_feature_list_free(features);
    if (with_element) gst_element_register(nullptr, kTestElement, GST_RANK_NONE, tilu_test_rtp_src_get_type());
    registered_ = with_element;
  }
  RtpRegistry(const RtpRegistry&) = delete;
  RtpRegistry& operator=(const RtpRegistry&) = delete;
  ~RtpRegistry() {
    if (!registered_) return;
    if (GstPluginFeature* f = gst_registry_lookup_feature(gst_registry_get(), kTestElement)) {
      gst_registry_remove_feature(gst_registry_get(), f);
      gst_object_unref(f);
    }
  }

 private:
  static constexpr const char* kTestElement = "tilutestrtpsrc";
  std::vector<std::unique_ptr<mediatest::HiddenFeature>> hidden_;
  bool registered_ = false;
};

enum Rtp { kNoRtpElement, kRtpElement, kEither };

struct Case {
  const char* proxy;
  const char* uri;
  Rtp rtp;
  const char* expected;
};

constexpr const char* P = "http://127.0.0.1:8080";

const Case kCases[] = {
    // Through the relay: scheme and location become the path; krtp is asked for as rtp.
    {P, "krtp://239.255.0.1:5000", kEither, "http://127.0.0.1:8080/rtp/239.255.0.1:5000"},
    {P, "KRTP://239.255.0.1:5000", kEither, "http://127.0.0.1:8080/rtp/239.255.0.1:5000"},
    {P, "udp://@239.255.0.1:5000", kEither, "http://127.0.0.1:8080/udp/@239.255.0.1:5000"},
    {P, "rtp://239.255.0.1:5000", kEither, "http://127.0.0.1:8080/rtp/239.255.0.1:5000"},
    {P, "rtp://src@239.255.0.1:5000", kEither, "http://127.0.0.1:8080/rtp/src@239.255.0.1:5000"},
    {P, "http://example.com/live/a%20b.ts", kEither, "http://127.0.0.1:8080/http/example.com/live/a%20b.ts"},
    {P, "foo://bar", kEither, "http://127.0.0.1:8080/foo/bar"},
    // Without a relay: rtp goes to the player's own element, also where another one takes it.
    {nullptr, "rtp://239.255.0.1:5000", kEither, "krtp://239.255.0.1:5000"},
    {nullptr, "rtp://@239.255.0.1:5000", kEither, "krtp://@239.255.0.1:5000"},
    {nullptr, "RTP://239.255.0.1:5000", kNoRtpElement, "krtp://239.255.0.1:5000"},
    {nullptr, "rtp://[ff05::1]:5000", kNoRtpElement, "krtp://[ff05::1]:5000"},
    {nullptr, "krtp://239.255.0.1:5000", kEither, "krtp://239.255.0.1:5000"},
    {nullptr, "krtp://user@239.255.0.1:5000", kEither, "krtp://user@239.255.0.1:5000"},
    {nullptr, "udp://@239.255.0.1:5000", kEither, "udp://@239.255.0.1:5000"},
    {nullptr, "UDP://@239.255.0.1:5000", kEither, "udp://@239.255.0.1:5000"},
    {nullptr, "foo://bar", kEither, "foo://bar"},
    {nullptr, "udp://", kEither, "udp://"},
    // Escapes stay as written: unescaped, "%20" would become a space and "%2F" nothing at all.
    {nullptr, "http://example.com/live/a%20b.ts", kEither, "http://example.com/live/a%20b.ts"},
    {nullptr, "http://example.com/a%2Fb.ts?x=1%26y", kEither, "http://example.com/a%2Fb.ts?x=1%26y"},
    // No scheme, or a scheme without "://": the text goes to the pipeline as it is.
    {nullptr, "not a uri", kEither, "not a uri"},
    {nullptr, "", kEither, ""},
    {nullptr, "239.255.0.1:5000", kEither, "239.255.0.1:5000"},
    {nullptr, "file:/tmp/a.ts", kEither, "file:/tmp/a.ts"},
    {P, "not a uri", kEither, "not a uri"},
    {P, "mailto:someone", kEither, "mailto:someone"},
};

TEST(TiluGstUri, RewritingTable) {
  for (const Case& c : kCases) {
    for (bool with_element : {false, true}) {
      if ((c.rtp == kNoRtpElement && with_element) || (c.rtp == kRtpElement && !with_element)) continue;
      RtpRegistry registry(with_element);
      ASSERT_EQ(gst_uri_protocol_is_supported(GST_URI_SRC, "rtp"), with_element);
      glibx::CharPtr real(tilu_gst_rewrite_uri(c.proxy, c.uri));
      EXPECT_STREQ(real.get(), c.expected)
          << "proxy " << (c.proxy ? c.proxy : "(none)") << ", uri \"" << c.uri << "\", "
          << (with_element ? "with" : "without") << " an element for rtp";
    }
  }
}

// The registry changes of the table are undone: the installed rtp element (when there is one)
// is back, the test element gone.
TEST(TiluGstUri, RegistryRestored) {
  bool before = gst_uri_protocol_is_supported(GST_URI_SRC, "rtp");
  { RtpRegistry registry(!before); }
  EXPECT_EQ(gst_uri_protocol_is_supported(GST_URI_SRC, "rtp"), before);
  EXPECT_EQ(gst_registry_lookup_feature(gst_registry_get(), "tilutestrtpsrc"), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  gst_init(&argc, &argv);
  return RUN_ALL_TESTS();
}
