#include "tilu_geometry.h"
