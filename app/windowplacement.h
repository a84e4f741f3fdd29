// Where the window goes on a screen: the wanted place and size where they fit, otherwise
// clamped so that the whole window, title bar included, stays on the screen.
#pragma once

#include <QMargins>
#include <QRect>

namespace corvane::app {

// `wanted` is the window's frame position (its top-left, as QWidget::move takes it) with its
// inner size; `frame` is what the window manager adds around the inner size. The result keeps
// that shape: the size shrinks only where the framed window would be larger than `available`,
// and the position moves only as far as needed to bring the framed window inside it.
QRect fitOnScreen(const QRect& wanted, const QRect& available, const QMargins& frame);

} // namespace corvane::app
