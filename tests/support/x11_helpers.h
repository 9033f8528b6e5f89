// What a window manager would do for a test's X client on a bare Xvfb display: answer the
// fullscreen requests of _NET_WM_STATE, and close a window the way its close button does.
// Header-only; a test that includes it links X11.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <map>

namespace tilutest {

// Answers the _NET_WM_STATE fullscreen requests that clients send to the root window: resizes
// the window to the screen (and back) and sets the window's _NET_WM_STATE property, which is
// how a client learns that it is fullscreen. Call poll() from the loop that waits.
class FakeWindowManager {
 public:
  FakeWindowManager() : display_(XOpenDisplay(nullptr)) {
    if (!display_) return;
    state_ = XInternAtom(display_, "_NET_WM_STATE", False);
    fullscreen_ = XInternAtom(display_, "_NET_WM_STATE_FULLSCREEN", False);
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XFlush(display_);
  }
  FakeWindowManager(const FakeWindowManager&) = delete;
  FakeWindowManager& operator=(const FakeWindowManager&) = delete;
  ~FakeWindowManager() {
    if (display_) XCloseDisplay(display_);
  }
  explicit operator bool() const { return display_ != nullptr; }

  void poll() {
    if (!display_) return;
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == ClientMessage && event.xclient.message_type == state_ &&
          static_cast<Atom>(event.xclient.data.l[1]) == fullscreen_) {
        apply(event.xclient.window, event.xclient.data.l[0]);
      }
    }
  }

 private:
  struct Geometry {
    int x, y;
    unsigned w, h;
  };

  void apply(Window window, long action) {
    const bool now = saved_.count(window) > 0;
    const bool want = action == 1 || (action == 2 && !now);  // 0 remove, 1 add, 2 toggle
    if (want == now) return;
    if (want) {
      Window root;
      Geometry g{};
      unsigned border, depth;
      XGetGeometry(display_, window, &root, &g.x, &g.y, &g.w, &g.h, &border, &depth);
      saved_[window] = g;
      const int screen = DefaultScreen(display_);
      XMoveResizeWindow(display_, window, 0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen));
      XChangeProperty(display_, window, state_, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&fullscreen_), 1);
    } else {
      const Geometry g = saved_[window];
      saved_.erase(window);
      XMoveResizeWindow(display_, window, g.x, g.y, g.w, g.h);
      XChangeProperty(display_, window, state_, XA_ATOM, 32, PropModeReplace, nullptr, 0);
    }
    XFlush(display_);
  }

  Display* display_;
  Atom state_ = 0;
  Atom fullscreen_ = 0;
  std::map<Window, Geometry> saved_;
};

// Sends WM_DELETE_WINDOW to the window, as a window manager does when the user closes it.
inline bool send_wm_delete(unsigned long window) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent != 0;
}

}  // namespace tilutest
