// The application icon (resource 128): a router board with an arrow bringing the image
// down into it. Drawn in code as RGBA pixels so that every backend can hand it to its
// windowing system without an image file.
#pragma once

#include "platform/ui/resources.h"

namespace res {

// The icon of resource IDR_MAINFRAME, 32 x 32 pixels.
const ui::IconImage& application_icon();

}  // namespace res
