// Shows a text file (a result list) or a folder to the user with the desktop's handler, without
// waiting.
#pragma once

#include <QString>

namespace corvane::platform {

// Name of the environment variable that, when set, names the program to run with the file's
// path instead of the desktop's handler (tests point it at a recorder).
inline constexpr char kTextOpenerVariable[] = "CORVANE_TEXT_OPENER";

// Starts the viewer detached and does not check whether it started: notepad.exe on Windows,
// the desktop's default handler for text files (xdg-open) elsewhere.
void openTextFile(const QString& path);
// Shows a folder to the user in the desktop's file manager, the same way.
void openFolder(const QString& path);

} // namespace corvane::platform
