// Entry point of the window program: derives the start-up paths, meets an older copy, and
// runs the main window until the user quits.
#include "app/instancechannel.h"
#include "app/qttranslation.h"
#include "app/startup.h"
#include "app/widget.h"
#include "automation/native/nativeserver.h"
#include "run/routingserver.h"
#include "jobs/joboptions.h"
#include "jobs/serverregistry.h"

#include <QApplication>
#include <QCoreApplication>
#include <QStandardPaths>

#include <cstdio>
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

    // One copy per user. A copy that runs a job is never ended: it comes to the front and this
    // one leaves. An idle one gives way and quits.
    const QString channelName = app::instanceChannelName();
    if (app::InstanceChannel::askToGiveWay(channelName) == app::InstanceChannel::Reply::Busy) {
        std::fprintf(stderr,
                     "Corvane: another Corvane is running a job; its window was brought to the front.\n");
        return 1;
    }

    auto window = std::make_unique<app::Widget>();
    app::InstanceChannel channel(channelName, [&window] { return window->isRunning(); });
    QObject::connect(&channel, &app::InstanceChannel::showRequested, window.get(), &app::Widget::ShowWindow);
    QObject::connect(&channel, &app::InstanceChannel::quitRequested, &application, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    channel.listen();
    const int exitCode = application.exec();
    window.reset();
    return exitCode;
}
