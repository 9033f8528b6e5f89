// on_key_press on the real scene: synthetic key events emitted on the player's stage, the
// record, the actors and the log lines checked after each. The streams of the playlist are
// multicast groups nobody sends to (in the test's own network namespace), so the main pipeline
// opens and waits without ever failing.
#include <clutter-gst/clutter-gst.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "log_capture.h"
#include "test_env.h"
#include "test_util.h"
#include "tilu_geometry.h"
#include "tilu_player.h"
// Last: Xlib's macros (None, Bool, Status) would break the headers above.
#include "x11_helpers.h"

namespace {

using tilutest::format;
using tilutest::spin_until;

struct EventFree {
  void operator()(ClutterEvent* e) const noexcept { clutter_event_free(e); }
};

// The player as start-up leaves it: record, scene, shown stage, main pipeline; no scans.
class Player {
 public:
  Player(int count, int columns, const tilutest::TempDir& dir) {
    const std::string path = dir.file("keys.m3u");
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("#EXTM3U\n", f);
    for (int i = 0; i < count; ++i) {
      std::fprintf(f, "#EXTINF:-1,Channel %d\nudp://@239.255.7.%d:5000\n", i, i + 1);
    }
    std::fclose(f);

    tilu_options = TiluOptions{};
    tilu_options.num_vid_per_row = columns;
    tilu_options.ani_duration = 0;  // the grid moves at once: positions can be read back
    tilu_options.scan_num_jobs = 0;
    TiluPlaylistPtr playlist(tilu_playlist_load(path.c_str()));
    EXPECT_TRUE(playlist) << "playlist " << path;
    tilu_player_init(&record, std::move(playlist));
    tilu_scene_build(&record);
    stage = clutter_actor_get_stage(record.grid_actor);
    g_object_add_weak_pointer(G_OBJECT(stage), reinterpret_cast<gpointer*>(&stage));
    tilu_player_start(&record);
    EXPECT_TRUE(spin_until([&] { return record.view_width > 0; }, 5000)) << "no first allocation";
  }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;
  ~Player() {
    if (stage) g_object_remove_weak_pointer(G_OBJECT(stage), reinterpret_cast<gpointer*>(&stage));
    tilu_player_release(&record);
    tilu_options = TiluOptions{};
  }

  // Emits a key press on the stage, as the window system would deliver it.
  gboolean press(guint key_symbol) {
    std::unique_ptr<ClutterEvent, EventFree> event(clutter_event_new(CLUTTER_KEY_PRESS));
    clutter_event_set_key_symbol(event.get(), key_symbol);
    clutter_event_set_stage(event.get(), CLUTTER_STAGE(stage));
    gboolean handled = FALSE;
    g_signal_emit_by_name(stage, "key-press-event", event.get(), &handled);
    return handled;
  }

  // As after the main pipeline's first frame; a reopen hides the main actor and clears the flag.
  // (The handle's address is no proof: a new handle may reuse the old one's memory.)
  void pretend_main_shown() {
    record.main_shown = TRUE;
    clutter_actor_set_opacity(record.main_actor, 255);
  }
  bool main_reopened() const { return !record.main_shown && clutter_actor_get_opacity(record.main_actor) == 0; }

  gfloat grid_x() const { return clutter_actor_get_x(record.grid_actor); }
  gfloat grid_y() const { return clutter_actor_get_y(record.grid_actor); }

  TiluPlayer record;
  ClutterActor* stage = nullptr;  // cleared when the stage goes
};

// What a key may change, for comparing before and after.
struct Snapshot {
  gint32 vid_idx, zoom, saved_zoom, text_mode;
  gfloat cx, cy, saved_cx, saved_cy, focus_x, focus_y, grid_x, grid_y;
  gdouble volume;
  gboolean mute;
  guint text_timeout_id;
  TiluGst* main_gst;
  gboolean main_shown;
  guint8 main_opacity, titles_opacity, info_opacity;

  static Snapshot of(const Player& p) {
    const TiluPlayer& r = p.record;
    return Snapshot{r.vid_idx, r.zoom, r.saved_zoom, r.text_mode, r.center_x, r.center_y, r.saved_center_x,
                    r.saved_center_y, clutter_actor_get_x(r.focus_actor), clutter_actor_get_y(r.focus_actor),
                    p.grid_x(), p.grid_y(), r.volume, r.mute, r.text_timeout_id, r.main_gst.get(),
                    r.main_shown, clutter_actor_get_opacity(r.main_actor), clutter_actor_get_opacity(r.titles_actor),
                    clutter_actor_get_opacity(r.info_text)};
  }
  bool operator==(const Snapshot&) const = default;
};

class KeysTest : public ::testing::Test {
 protected:
  tilutest::TempDir dir_;
};

TEST_F(KeysTest, UnhandledKeysPropagateAndChangeNothing) {
  Player p(10, 4, dir_);
  const guint keys[] = {CLUTTER_KEY_a,       CLUTTER_KEY_q,         CLUTTER_KEY_space,   CLUTTER_KEY_F1,
                        CLUTTER_KEY_KP_Left, CLUTTER_KEY_KP_Up,     CLUTTER_KEY_KP_Right, CLUTTER_KEY_KP_Down,
                        CLUTTER_KEY_KP_Page_Up, CLUTTER_KEY_KP_Page_Down, CLUTTER_KEY_Shift_L, CLUTTER_KEY_Tab,
                        CLUTTER_KEY_Delete,  CLUTTER_KEY_F10,       CLUTTER_KEY_equal,   CLUTTER_KEY_KP_Multiply};
  p.pretend_main_shown();
  clutter_actor_set_opacity(p.record.titles_actor, 0);  // a refresh would show the captions
  for (guint key : keys) {
    SCOPED_TRACE(testing::Message() << "key " << key);
    const Snapshot before = Snapshot::of(p);
    tilutest::LogCapture log;
    EXPECT_EQ(p.press(key), CLUTTER_EVENT_PROPAGATE);
    EXPECT_TRUE(Snapshot::of(p) == before);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], format("on_key_press event key_symbol(%u)", key));
  }
}

TEST_F(KeysTest, EveryHandledKeyStopsAndEndsWithTheTextRefresh) {
  Player p(10, 4, dir_);
  const guint keys[] = {CLUTTER_KEY_Left,   CLUTTER_KEY_Up,        CLUTTER_KEY_Right,  CLUTTER_KEY_Down,
                        CLUTTER_KEY_plus,   CLUTTER_KEY_KP_Add,    CLUTTER_KEY_minus,  CLUTTER_KEY_KP_Subtract,
                        CLUTTER_KEY_Return, CLUTTER_KEY_KP_Enter,  CLUTTER_KEY_Page_Up, CLUTTER_KEY_Page_Down,
                        CLUTTER_KEY_Home,   CLUTTER_KEY_KP_Home,   CLUTTER_KEY_End,    CLUTTER_KEY_KP_End};
  ASSERT_EQ(p.record.text_mode, TILU_TEXT_MAIN_ONLY);
  for (guint key : keys) {
    SCOPED_TRACE(testing::Message() << "key " << key);
    // As the text-info timeout leaves it: captions hidden.
    clutter_actor_set_opacity(p.record.titles_actor, 0);
    const guint old_timeout = p.record.text_timeout_id;
    tilutest::LogCapture log;
    EXPECT_EQ(p.press(key), CLUTTER_EVENT_STOP);
    EXPECT_EQ(log.lines().at(0), format("on_key_press event key_symbol(%u)", key));
    EXPECT_EQ(clutter_actor_get_opacity(p.record.titles_actor), 255);
    EXPECT_NE(p.record.text_timeout_id, 0u);
    EXPECT_NE(p.record.text_timeout_id, old_timeout) << "the timeout was not restarted";
    EXPECT_EQ(clutter_actor_get_opacity(p.record.info_text), 0);
  }
}

struct NavStep {
  guint key;
  gint32 vid_idx;
};

TEST_F(KeysTest, FocusMovesReopenTheMainVideoOnTheNewTile) {
  Player p(10, 4, dir_);  // rows 0-3, 4-7, 8-9; zoom 4 shows the whole grid
  const NavStep steps[] = {
      {CLUTTER_KEY_Left, 9}, {CLUTTER_KEY_Right, 0}, {CLUTTER_KEY_Right, 1}, {CLUTTER_KEY_Up, 9},
      {CLUTTER_KEY_Down, 1}, {CLUTTER_KEY_Right, 2}, {CLUTTER_KEY_Up, 6},    {CLUTTER_KEY_Right, 7},
      {CLUTTER_KEY_Down, 3}, {CLUTTER_KEY_Down, 7},  {CLUTTER_KEY_Down, 3},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "key " << s.key << " to " << s.vid_idx);
    p.pretend_main_shown();
    tilutest::LogCapture log;
    ASSERT_EQ(p.press(s.key), CLUTTER_EVENT_STOP);
    EXPECT_EQ(p.record.vid_idx, s.vid_idx);
    EXPECT_EQ(log.count(format("vid_idx(%d)", s.vid_idx)), 1);
    EXPECT_TRUE(p.main_reopened()) << "main video not reopened";
    EXPECT_EQ(clutter_actor_get_x(p.record.focus_actor), 500.0f * (s.vid_idx % 4));
    EXPECT_EQ(clutter_actor_get_y(p.record.focus_actor), 500.0f * (s.vid_idx / 4));
    EXPECT_EQ(p.record.zoom, 4);
  }
}

TEST_F(KeysTest, SingleEntryAndSingleRowKeepTheEntryButReopen) {
  struct Case {
    int count, columns;
    gint32 start;
    guint key;
  };
  const Case cases[] = {
      {1, 0, 0, CLUTTER_KEY_Left}, {1, 0, 0, CLUTTER_KEY_Right}, {1, 0, 0, CLUTTER_KEY_Up},
      {1, 0, 0, CLUTTER_KEY_Down}, {3, 5, 1, CLUTTER_KEY_Up},     {3, 5, 2, CLUTTER_KEY_Down},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " entries, key " << c.key);
    Player p(c.count, c.columns, dir_);
    p.record.vid_idx = c.start;
    p.pretend_main_shown();
    tilutest::LogCapture log;
    EXPECT_EQ(p.press(c.key), CLUTTER_EVENT_STOP);
    EXPECT_EQ(p.record.vid_idx, c.start);
    EXPECT_EQ(log.count(format("vid_idx(%d)", c.start)), 1);
    EXPECT_TRUE(p.main_reopened()) << "main video not reopened";
  }
}

TEST_F(KeysTest, ZoomFollowsTheFocusAndLogsTheShare) {
  Player p(16, 4, dir_);
  p.record.vid_idx = 15;  // column 3, row 3
  struct Step {
    guint key;
    gint32 zoom;
    const char* logged;
    gfloat cx, cy;
  };
  const Step steps[] = {
      {CLUTTER_KEY_minus, 4, "zoom(0.250000)", 1.5f, 1.5f},  // already at N: stays, logs 1/N
      {CLUTTER_KEY_plus, 3, "zoom(0.333333)", 2, 2},
      {CLUTTER_KEY_KP_Add, 2, "zoom(0.500000)", 2.5f, 2.5f},
      {CLUTTER_KEY_plus, 1, "zoom(1.000000)", 3, 3},
      {CLUTTER_KEY_plus, 1, "zoom(1.000000)", 3, 3},  // at 1: stays, still recentres
      {CLUTTER_KEY_KP_Subtract, 2, "zoom(0.500000)", 2.5f, 2.5f},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.logged);
    tilutest::LogCapture log;
    ASSERT_EQ(p.press(s.key), CLUTTER_EVENT_STOP);
    EXPECT_EQ(p.record.zoom, s.zoom);
    EXPECT_EQ(log.count(s.logged), 1);
    EXPECT_EQ(p.record.center_x, s.cx);
    EXPECT_EQ(p.record.center_y, s.cy);
    const TiluGridPlacement placement = tilu_grid_placement(&p.record);
    EXPECT_EQ(p.grid_x(), placement.x);
    EXPECT_EQ(p.grid_y(), placement.y);
    EXPECT_EQ(log.starting_with("ra_x(").size(), 1u);
    gdouble sx = 0, sy = 0;
    clutter_actor_get_scale(p.record.main_actor, &sx, &sy);
    EXPECT_EQ(sx, tilu_main_actor_scale(s.zoom));
  }
}

TEST_F(KeysTest, ViewFollowsTheFocus) {
  Player p(16, 4, dir_);
  ASSERT_EQ(p.press(CLUTTER_KEY_plus), CLUTTER_EVENT_STOP);
  ASSERT_EQ(p.press(CLUTTER_KEY_plus), CLUTTER_EVENT_STOP);  // zoom 2, columns 0-1, rows 0-1
  ASSERT_EQ(p.record.center_x, 0.5f);
  struct Step {
    guint key;
    gint32 vid_idx;
    gfloat cx, cy;
    bool view_applied;
  };
  const Step steps[] = {
      {CLUTTER_KEY_Right, 1, 0.5f, 0.5f, false},  // still inside
      {CLUTTER_KEY_Right, 2, 1.5f, 0.5f, true},   // scrolls one column
      {CLUTTER_KEY_Right, 3, 2.5f, 0.5f, true},
      {CLUTTER_KEY_Right, 4, 0.5f, 0.5f, true},   // next row, back against the left edge
      {CLUTTER_KEY_Up, 0, 0.5f, 0.5f, false},
      {CLUTTER_KEY_Up, 12, 0.5f, 2.5f, true},     // wraps to the bottom row
      {CLUTTER_KEY_Left, 11, 2.5f, 2.5f, true},   // previous row, against the right edge
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "to " << s.vid_idx);
    tilutest::LogCapture log;
    ASSERT_EQ(p.press(s.key), CLUTTER_EVENT_STOP);
    EXPECT_EQ(p.record.vid_idx, s.vid_idx);
    EXPECT_EQ(p.record.center_x, s.cx);
    EXPECT_EQ(p.record.center_y, s.cy);
    EXPECT_EQ(log.starting_with("ra_x(").size(), s.view_applied ? 1u : 0u);
    const TiluGridPlacement placement = tilu_grid_placement(&p.record);
    EXPECT_EQ(p.grid_x(), placement.x);
    EXPECT_EQ(p.grid_y(), placement.y);
  }
}

TEST_F(KeysTest, EnterZoomsInAndBack) {
  Player p(16, 4, dir_);
  ASSERT_EQ(p.press(CLUTTER_KEY_plus), CLUTTER_EVENT_STOP);  // zoom 3 around entry 0
  ASSERT_EQ(p.press(CLUTTER_KEY_Right), CLUTTER_EVENT_STOP);  // entry 1
  const gfloat cx = p.record.center_x, cy = p.record.center_y;
  const gfloat x = p.grid_x(), y = p.grid_y();

  tilutest::LogCapture log;
  ASSERT_EQ(p.press(CLUTTER_KEY_Return), CLUTTER_EVENT_STOP);
  EXPECT_EQ(p.record.zoom, 1);
  EXPECT_EQ(p.record.center_x, 1);
  EXPECT_EQ(p.record.center_y, 0);
  EXPECT_EQ(p.record.saved_zoom, 3);
  EXPECT_EQ(log.starting_with("zoom(").size(), 0u);  // Enter logs no zoom line
  gdouble sx = 0, sy = 0;
  clutter_actor_get_scale(p.record.main_actor, &sx, &sy);
  EXPECT_EQ(sx, 1.0);

  ASSERT_EQ(p.press(CLUTTER_KEY_KP_Enter), CLUTTER_EVENT_STOP);
  EXPECT_EQ(p.record.zoom, 3);
  EXPECT_EQ(p.record.center_x, cx);
  EXPECT_EQ(p.record.center_y, cy);
  EXPECT_EQ(p.grid_x(), x);
  EXPECT_EQ(p.grid_y(), y);

  // In again, move far away, out again: the saved zoom around the new focus.
  ASSERT_EQ(p.press(CLUTTER_KEY_Return), CLUTTER_EVENT_STOP);
  ASSERT_EQ(p.press(CLUTTER_KEY_Up), CLUTTER_EVENT_STOP);  // entry 13, bottom row
  ASSERT_EQ(p.record.center_y, 3);
  ASSERT_EQ(p.press(CLUTTER_KEY_Return), CLUTTER_EVENT_STOP);
  EXPECT_EQ(p.record.zoom, 3);
  EXPECT_EQ(p.record.center_x, 1);
  EXPECT_EQ(p.record.center_y, 2);
  EXPECT_TRUE(_tilu_is_focus_visible(&p.record));
}

TEST_F(KeysTest, EnterAtZoom1WithNothingSavedReturnsToTheOverview) {
  {
    Player p(9, 3, dir_);
    ASSERT_EQ(p.press(CLUTTER_KEY_plus), CLUTTER_EVENT_STOP);
    ASSERT_EQ(p.press(CLUTTER_KEY_plus), CLUTTER_EVENT_STOP);
    ASSERT_EQ(p.record.zoom, 1);
    ASSERT_EQ(p.record.saved_zoom, 0);
    ASSERT_EQ(p.press(CLUTTER_KEY_Return), CLUTTER_EVENT_STOP);
    EXPECT_EQ(p.record.zoom, 3);
    EXPECT_EQ(p.record.center_x, 1);
    EXPECT_EQ(p.record.center_y, 1);
    EXPECT_EQ(p.grid_x(), p.record.view_x);
    EXPECT_EQ(p.grid_y(), p.record.view_y);
  }
  Player single(1, 0, dir_);
  ASSERT_EQ(single.press(CLUTTER_KEY_Return), CLUTTER_EVENT_STOP);
  EXPECT_EQ(single.record.zoom, 1);
  EXPECT_EQ(single.record.center_x, 0);
}

TEST_F(KeysTest, VolumeStepsClampAndUnmute) {
  Player p(2, 0, dir_);
  struct Step {
    gdouble start;
    gboolean muted;
    guint key;
    gdouble volume;
  };
  const Step steps[] = {
      {0.99, FALSE, CLUTTER_KEY_Page_Up, 1.0},
      {1.0, TRUE, CLUTTER_KEY_Page_Up, 1.0},
      {0.01, TRUE, CLUTTER_KEY_Page_Down, 0.0},
      {0.5, FALSE, CLUTTER_KEY_Page_Down, 0.5 - 0.02},
      {0.5, TRUE, CLUTTER_KEY_Page_Up, 0.5 + 0.02},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << s.start << " key " << s.key);
    p.record.volume = s.start;
    p.record.mute = s.muted;
    tilu_gst_set_mute(p.record.main_gst.get(), s.muted);
    tilutest::LogCapture log;
    ASSERT_EQ(p.press(s.key), CLUTTER_EVENT_STOP);
    EXPECT_EQ(p.record.volume, s.volume);
    EXPECT_EQ(p.record.mute, FALSE);
    const auto volume_line = format("volume(%f)", s.volume);
    ASSERT_GE(log.lines().size(), 3u);
    EXPECT_EQ(log.lines()[1], volume_line);
    EXPECT_EQ(log.lines()[2], "mute(0)");
    EXPECT_DOUBLE_EQ(tilu_gst_get_volume(p.record.main_gst.get()), s.volume);
    EXPECT_EQ(tilu_gst_get_mute(p.record.main_gst.get()), 0);
  }
}

TEST_F(KeysTest, MuteToggles) {
  Player p(2, 0, dir_);
  p.record.mute = FALSE;
  tilutest::LogCapture log;
  ASSERT_EQ(p.press(CLUTTER_KEY_End), CLUTTER_EVENT_STOP);
  EXPECT_EQ(p.record.mute, TRUE);
  EXPECT_EQ(tilu_gst_get_mute(p.record.main_gst.get()), 1);
  ASSERT_EQ(p.press(CLUTTER_KEY_KP_End), CLUTTER_EVENT_STOP);
  EXPECT_EQ(p.record.mute, FALSE);
  EXPECT_EQ(tilu_gst_get_mute(p.record.main_gst.get()), 0);
  EXPECT_EQ(log.starting_with("mute("), (std::vector<std::string>{"mute(1)", "mute(0)"}));
}

TEST_F(KeysTest, NextAudioTrackWithoutTracksIsZero) {
  Player p(2, 0, dir_);
  tilutest::LogCapture log;
  ASSERT_EQ(p.press(CLUTTER_KEY_Home), CLUTTER_EVENT_STOP);
  ASSERT_EQ(p.press(CLUTTER_KEY_KP_Home), CLUTTER_EVENT_STOP);
  EXPECT_EQ(log.starting_with("current_audio("),
            (std::vector<std::string>{"current_audio(0)", "current_audio(0)"}));
}

TEST_F(KeysTest, InsertCyclesTheTextModes) {
  Player p(2, 0, dir_);
  struct Step {
    gint32 mode;
    guint8 info, titles;
    bool timeout;
  };
  const Step steps[] = {
      {TILU_TEXT_MAIN_DEBUG, 255, 255, false},
      {TILU_TEXT_NONE, 0, 0, false},
      {TILU_TEXT_MAIN_ONLY, 0, 255, true},
      {TILU_TEXT_MAIN_DEBUG, 255, 255, false},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message() << "mode " << s.mode);
    ASSERT_EQ(p.press(s.mode % 2 ? CLUTTER_KEY_Insert : CLUTTER_KEY_KP_Insert), CLUTTER_EVENT_STOP);
    EXPECT_EQ(p.record.text_mode, s.mode);
    EXPECT_EQ(clutter_actor_get_opacity(p.record.info_text), s.info);
    EXPECT_EQ(clutter_actor_get_opacity(p.record.titles_actor), s.titles);
    EXPECT_EQ(p.record.text_timeout_id != 0, s.timeout);
  }
}

TEST_F(KeysTest, F11TogglesFullscreenAndPauses) {
  tilutest::FakeWindowManager wm;
  ASSERT_TRUE(wm);
  Player p(2, 0, dir_);
  ClutterStage* stage = CLUTTER_STAGE(p.stage);
  ASSERT_FALSE(clutter_stage_get_fullscreen(stage));
  const gfloat width = p.record.stage_width;

  const gint64 start = g_get_monotonic_time();
  ASSERT_EQ(p.press(CLUTTER_KEY_F11), CLUTTER_EVENT_STOP);
  EXPECT_GE(g_get_monotonic_time() - start, 100000) << "no pause after the fullscreen request";
  EXPECT_TRUE(spin_until(
      [&] {
        wm.poll();
        return clutter_stage_get_fullscreen(stage) && p.record.stage_width == 1600.0f;
      },
      5000));
  // The new size went through on_allocation_changed.
  EXPECT_EQ(p.record.view_width, 1600.0f);
  EXPECT_EQ(p.record.view_height, 900.0f);

  ASSERT_EQ(p.press(CLUTTER_KEY_F11), CLUTTER_EVENT_STOP);
  EXPECT_TRUE(spin_until(
      [&] {
        wm.poll();
        return !clutter_stage_get_fullscreen(stage) && p.record.stage_width == width;
      },
      5000));
}

TEST_F(KeysTest, EscapeDestroysTheStageWithoutTheCommonEnding) {
  Player p(4, 0, dir_);
  ASSERT_NE(p.stage, nullptr);
  clutter_actor_set_opacity(p.record.titles_actor, 0);
  const guint timeout = p.record.text_timeout_id;
  tilutest::LogCapture log;
  EXPECT_EQ(p.press(CLUTTER_KEY_Escape), CLUTTER_EVENT_STOP);
  // No refresh and no timeout restart on the way out.
  if (p.stage) {
    EXPECT_EQ(clutter_actor_get_opacity(p.record.titles_actor), 0);
    EXPECT_EQ(p.record.text_timeout_id, timeout);
  }
  // A second Escape before the stage went must not destroy anything twice.
  EXPECT_EQ(p.press(CLUTTER_KEY_Escape), CLUTTER_EVENT_STOP);
  EXPECT_TRUE(spin_until([&] { return p.stage == nullptr; }, 3000)) << "stage still alive";
  // on_destroy released the record.
  EXPECT_FALSE(p.record.playlist);
  EXPECT_FALSE(p.record.main_gst);
  EXPECT_EQ(p.record.text_timeout_id, 0u);
  EXPECT_EQ(log.lines().at(0), format("on_key_press event key_symbol(%u)", guint(CLUTTER_KEY_Escape)));
  EXPECT_EQ(log.starting_with("vid_idx(").size(), 0u);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  tilutest::enter_private_netns();  // the playlist's groups are joined here, never on the host
  tilutest::XvfbDisplay display(1600, 900);
  if (clutter_gst_init(nullptr, nullptr) != CLUTTER_INIT_SUCCESS) {
    std::fprintf(stderr, "clutter could not start on %s\n", display.name().c_str());
    return 1;
  }
  return RUN_ALL_TESTS();
}
