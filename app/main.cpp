// Entry point of the window program: derives the start-up paths, applies the instance rule,
// and runs the main window until the user quits.
#include "app/startup.h"
#include "app/widget.h"
#include "automation/native/nativeserver.h"
#include "jobs/serverregistry.h"
#include "platform/processes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStandardPaths>

#include <memory>

int main(int argc, char* argv[])
{
    using namespace corvane;

    // Names the configuration folder that may hold the settings file.
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));

    app::StartupPaths paths = app::deriveStartupPaths(
        argc, argv, QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));

    // A second copy ends the first one listed, which may be the older copy or this one.
    const QString instanceName = platform::instanceProcessName();
    if (platform::CountProcessesByName(instanceName) > 1)
        platform::TerminateProcessByName(instanceName);

    app::startupPaths() = paths;

    // Each run makes its server on its own worker thread through this.
    jobs::installServerFactory([] { return std::make_unique<automation::native::NativeServer>(); });

    QApplication application(argc, argv);
    auto window = std::make_unique<app::Widget>();
    const int exitCode = application.exec();
    window.reset();
    return exitCode;
}
