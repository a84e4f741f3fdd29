#include "platform/screen.h"

#include <QGuiApplication>
#include <QScreen>

namespace corvane::platform {

QSize primaryScreenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(0, 0);
}

} // namespace corvane::platform
