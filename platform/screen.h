// Size of the primary screen, for centring the window. Kept in the header so that the process
// and path services stay free of the GUI library: the command-line program links them too.
#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QSize>

namespace corvane::platform {

// Full size of the primary screen in pixels; 0 x 0 when there is no screen. Needs the GUI
// application object.
inline QSize primaryScreenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(0, 0);
}

} // namespace corvane::platform
