// RAII owners for GStreamer mini objects (caps, messages, tag lists, buffers, samples).
// GstObject-derived types (elements, pads, buses) use glibx::Ref<T> directly.
#pragma once

#include <gst/gst.h>

#include "glib_ptr.h"

namespace glibx {

template <typename T>
struct MiniObjectTraits {
  static T* ref(T* p) { return reinterpret_cast<T*>(gst_mini_object_ref(GST_MINI_OBJECT_CAST(p))); }
  static void unref(T* p) { gst_mini_object_unref(GST_MINI_OBJECT_CAST(p)); }
};

template <typename T>
using MiniRef = Ref<T, MiniObjectTraits<T>>;

using CapsRef = MiniRef<GstCaps>;
using MessageRef = MiniRef<GstMessage>;
using TagListRef = MiniRef<GstTagList>;
using SampleRef = MiniRef<GstSample>;
using BufferRef = MiniRef<GstBuffer>;

// Maps a buffer for reading for the lifetime of the object.
class BufferMap {
 public:
  explicit BufferMap(GstBuffer* buffer) : buffer_(buffer) {
    ok_ = buffer_ && gst_buffer_map(buffer_, &info_, GST_MAP_READ);
  }
  BufferMap(const BufferMap&) = delete;
  BufferMap& operator=(const BufferMap&) = delete;
  ~BufferMap() {
    if (ok_) gst_buffer_unmap(buffer_, &info_);
  }
  explicit operator bool() const { return ok_; }
  const guint8* data() const { return info_.data; }
  gsize size() const { return info_.size; }

 private:
  GstBuffer* buffer_;
  GstMapInfo info_{};
  bool ok_ = false;
};

// Holds the object lock of a GstObject for a scope.
class ObjectLock {
 public:
  explicit ObjectLock(gpointer object) : object_(GST_OBJECT_CAST(object)) { GST_OBJECT_LOCK(object_); }
  ObjectLock(const ObjectLock&) = delete;
  ObjectLock& operator=(const ObjectLock&) = delete;
  ~ObjectLock() { GST_OBJECT_UNLOCK(object_); }

 private:
  GstObject* object_;
};

}  // namespace glibx
