// The GstTILURtpSrc type: a bin of udpsrc ! rtpbin exposing the received RTP stream as "src".
// Private to the element and its tests; the player only registers the plug-in.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_TILU_RTPSRC (gst_tilu_rtpsrc_get_type())
#define GST_TILU_RTPSRC(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_TILU_RTPSRC, GstTILURtpSrc))
#define GST_TILU_RTPSRC_CLASS(klass) \
  (G_TYPE_CHECK_CLASS_CAST((klass), GST_TYPE_TILU_RTPSRC, GstTILURtpSrcClass))
#define GST_IS_TILU_RTPSRC(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GST_TYPE_TILU_RTPSRC))
#define GST_IS_TILU_RTPSRC_CLASS(klass) (G_TYPE_CHECK_CLASS_TYPE((klass), GST_TYPE_TILU_RTPSRC))

typedef struct _GstTILURtpSrc GstTILURtpSrc;
typedef struct _GstTILURtpSrcClass GstTILURtpSrcClass;

struct _GstTILURtpSrc {
  GstBin parent;

  /* properties (object lock) */
  gchar* uri;

  /* internal elements, borrowed: the bin owns them once added */
  GstElement* udpsrc;
  GstElement* rtpbin;

  /* exposed stream, written only under pad_lock by the pad-added handler */
  GstPad* ghost_pad;
  gint num_pads;

  /* serialises the pad-added handler: rtpbin adds each RTP source's pad from that source's
   * own streaming thread. Not the object lock: gst_element_add_pad takes that one. */
  GMutex pad_lock;
};

struct _GstTILURtpSrcClass {
  GstBinClass parent_class;
};

GType gst_tilu_rtpsrc_get_type(void);

G_END_DECLS
