// Values the entry point derives once from its command line, before the application object
// exists: the start argument, the program's folder and the settings file's path.
#pragma once

#include <QByteArray>
#include <QString>

namespace corvane::app {

inline constexpr char kSettingsFileName[] = "Corvane.qrt";
inline constexpr char kAutorunArgument[] = "-autorun";

struct StartupPaths
{
    QByteArray startArgument; // first argument after the program path, or empty
    QString exeFolder;        // program path cut after its last native separator, or empty
    QString settingsFilePath;
};

// The part of `programPath` up to and including its last native separator; empty when it
// holds none.
QString exeFolderOf(const QString& programPath);

// Where the settings file lives. On Windows always beside the program (or in the working
// directory when the folder is unknown). Elsewhere a program started through PATH has no
// folder, and one installed system-wide cannot write there: both keep their settings in
// `configFolder` instead, so the remembered paths survive.
QString settingsFilePathFor(const QString& exeFolder, bool exeFolderWritable, const QString& configFolder);

StartupPaths deriveStartupPaths(int argc, const char* const* argv, const QString& configFolder);

// The window shows itself at start unless the argument is exactly "-autorun".
bool startsHidden(const QByteArray& startArgument);

// The process-wide values: written by the entry point, read by the window and the settings.
StartupPaths& startupPaths();

} // namespace corvane::app
