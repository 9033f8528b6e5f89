// PLACEHOLDER so the tree links while the keys are written; the owner replaces this file.
#include "tilu_player.h"
gboolean on_key_press(ClutterActor*, ClutterEvent*, gpointer) { return FALSE; }
