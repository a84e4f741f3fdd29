#include "app/windowplacement.h"

#include <algorithm>

namespace corvane::app {

QRect fitOnScreen(const QRect& wanted, const QRect& available, const QMargins& frame)
{
    if (available.isEmpty())
        return wanted;
    const int frameWidth = frame.left() + frame.right();
    const int frameHeight = frame.top() + frame.bottom();
    const int width = std::max(1, std::min(wanted.width(), available.width() - frameWidth));
    const int height = std::max(1, std::min(wanted.height(), available.height() - frameHeight));

    // The left and top edges win where the framed window is still too large: they hold the
    // title bar and the folder row.
    const int x = std::max(available.left(),
                           std::min(wanted.x(), available.left() + available.width() - width - frameWidth));
    const int y = std::max(available.top(),
                           std::min(wanted.y(), available.top() + available.height() - height - frameHeight));
    return QRect(x, y, width, height);
}

} // namespace corvane::app
