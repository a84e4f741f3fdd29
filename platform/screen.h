// Size of the primary screen, for centring the window.
#pragma once

#include <QSize>

namespace corvane::platform {

// Full size of the primary screen in pixels; 0 x 0 when there is no screen. Needs the GUI
// application object.
QSize primaryScreenSize();

} // namespace corvane::platform
