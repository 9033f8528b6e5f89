// RAII owners for GLib memory and GObject references.
//
// Two verbs, never confused:
//   Ref<T>::adopt(p)  takes over a reference the caller already owns ("transfer full").
//   Ref<T>::wrap(p)   takes a reference of its own (and sinks a floating one).
#pragma once

#include <glib-object.h>
#include <glib.h>

#include <memory>
#include <utility>

namespace glibx {

struct GFreeDeleter {
  void operator()(void* p) const noexcept { g_free(p); }
};
using CharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct StrvDeleter {
  void operator()(gchar** v) const noexcept { g_strfreev(v); }
};
using StrvPtr = std::unique_ptr<gchar*, StrvDeleter>;

// Out-holder for GError: pass out() to a GLib call, read message(), freed on scope exit.
class Error {
 public:
  Error() = default;
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  ~Error() { clear(); }

  GError** out() {
    clear();
    return &error_;
  }
  GError* get() const { return error_; }
  explicit operator bool() const { return error_ != nullptr; }
  const char* message() const { return error_ ? error_->message : ""; }
  void clear() { g_clear_error(&error_); }

 private:
  GError* error_ = nullptr;
};

// Owner of a main-loop source id (timeouts, idles): reset() removes the source. A source whose
// callback returns FALSE ends by itself; that callback calls release() first, so that nothing
// removes it twice.
class SourceId {
 public:
  SourceId() = default;
  explicit SourceId(guint id) : id_(id) {}
  SourceId(const SourceId&) = delete;
  SourceId& operator=(const SourceId&) = delete;
  SourceId(SourceId&& o) noexcept : id_(std::exchange(o.id_, 0)) {}
  SourceId& operator=(SourceId&& o) noexcept {
    if (this != &o) {
      reset();
      id_ = std::exchange(o.id_, 0);
    }
    return *this;
  }
  ~SourceId() { reset(); }

  guint get() const { return id_; }
  explicit operator bool() const { return id_ != 0; }
  guint release() { return std::exchange(id_, 0); }
  void reset(guint id = 0) {
    if (guint old = std::exchange(id_, id)) g_source_remove(old);
  }

 private:
  guint id_ = 0;
};

template <typename T>
struct ObjectTraits {
  static T* ref(T* p) { return static_cast<T*>(g_object_ref_sink(p)); }
  static void unref(T* p) { g_object_unref(p); }
};

template <typename T, typename Traits = ObjectTraits<T>>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  static Ref adopt(T* p) {
    Ref r;
    r.p_ = p;
    return r;
  }
  static Ref wrap(T* p) {
    Ref r;
    if (p) r.p_ = Traits::ref(p);
    return r;
  }

  Ref(const Ref& o) : p_(o.p_ ? Traits::ref(o.p_) : nullptr) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Gives up ownership: the caller now holds the reference.
  T* release() { return std::exchange(p_, nullptr); }
  // Drops the held reference. The slot is cleared before the unref runs, so a
  // finalizer that looks back at the owner sees it empty.
  void reset() {
    if (T* old = std::exchange(p_, nullptr)) Traits::unref(old);
  }

 private:
  T* p_ = nullptr;
};

}  // namespace glibx
