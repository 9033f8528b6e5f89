// The view: the 16:9 area of the stage, and the grid actor's scale and position that show
// zoom x zoom tiles of the grid in it. The arithmetic lives in tilu_geometry.cpp.
#include "tilu_geometry.h"
#include "tilu_player.h"

void on_allocation_changed(ClutterActor* actor, const ClutterActorBox* box, ClutterAllocationFlags flags,
                           gpointer user_data) {
  auto* player = static_cast<TiluPlayer*>(user_data);
  g_debug("on_allocation_changed event x1(%f) y1(%f) x2(%f) y2(%f) flags(%d)", box->x1, box->y1, box->x2, box->y2,
          static_cast<int>(flags));

  gfloat width = 0;
  gfloat height = 0;
  clutter_actor_get_size(actor, &width, &height);
  const TiluViewArea area = tilu_view_area(width, height);
  player->stage_width = width;
  player->stage_height = height;
  player->view_x = area.x;
  player->view_y = area.y;
  player->view_width = area.width;
  player->view_height = area.height;

  _tilu_update_view(player);
  g_debug("new_x(%f) new_y(%f) new_width(%f) new_height(%f)", player->view_x, player->view_y, player->view_width,
          player->view_height);
}

int _tilu_update_view(TiluPlayer* player) {
  g_assert(player->zoom >= 1);
  const TiluGridPlacement placement = tilu_grid_placement(player);
  g_debug("ra_x(%f) ra_y(%f) ra_scale_x(%f) ra_scale_y(%f)", placement.x, placement.y, placement.scale_x,
          placement.scale_y);

  // The grid actor's base easing state animates both changes from wherever it is now.
  clutter_actor_set_scale(player->grid_actor, placement.scale_x, placement.scale_y);
  clutter_actor_set_position(player->grid_actor, placement.x, placement.y);
  _tilu_set_remove_on_complete(player->grid_actor, "position");
  _tilu_set_remove_on_complete(player->grid_actor, "scale-x");
  _tilu_set_remove_on_complete(player->grid_actor, "scale-y");

  // The main actor has no easing of its own: this takes effect at once.
  const gdouble main_scale = tilu_main_actor_scale(player->zoom);
  clutter_actor_set_scale(player->main_actor, main_scale, main_scale);
  return 0;
}

int _tilu_center_on_focus(TiluPlayer* player) {
  tilu_center_on_focus(player, tilu_grid_shape(player));
  return 0;
}

int _tilu_is_focus_visible(TiluPlayer* player) {
  return tilu_is_focus_visible(player, tilu_grid_shape(player)) ? 1 : 0;
}
