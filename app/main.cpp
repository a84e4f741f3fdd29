// Entry point of the window program: derives the start-up paths, applies the instance rule,
// and runs the main window until the user quits.
#include "app/qttranslation.h"
#include "app/startup.h"
#include "app/widget.h"
#include "automation/native/nativeserver.h"
#include "automation/routingserver.h"
#include "jobs/joboptions.h"
#include "jobs/serverregistry.h"
#include "platform/processes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStandardPaths>

#include <memory>

#ifdef CORVANE_HAVE_LIBREOFFICE
#include "automation/libreoffice/libreofficeserver.h"
#endif

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

    // Each run makes its server on its own worker thread through this, with the server choice
    // of the launch; LibreOffice is started only when a workbook of the run needs it.
    jobs::installServerFactory([] {
        automation::ServerFactory office;
#ifdef CORVANE_HAVE_LIBREOFFICE
        office = [] { return std::make_unique<automation::libreoffice::LibreOfficeServer>(); };
#endif
        return std::make_unique<automation::RoutingServer>(
            jobs::jobOptions().server, [] { return std::make_unique<automation::native::NativeServer>(); },
            office);
    });

    QApplication application(argc, argv);
    app::installQtChineseTranslation(application);
    auto window = std::make_unique<app::Widget>();
    const int exitCode = application.exec();
    window.reset();
    return exitCode;
}
