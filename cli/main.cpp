// corvane-cli: the bulk operations without a window, for scripts and servers.
#include "commands.h"

#include "automation/native/nativeserver.h"
#include "run/routingserver.h"
#include "jobs/joboptions.h"
#include "jobs/serverregistry.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

#ifdef CORVANE_HAVE_LIBREOFFICE
#include "automation/libreoffice/libreofficeserver.h"
#endif

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    // Each run makes its server through this, on the thread that runs it (here the main one),
    // with the --server choice; LibreOffice is started only when a workbook of the run needs it.
    corvane::jobs::installServerFactory([] {
        using namespace corvane::automation;
        ServerFactory office;
#ifdef CORVANE_HAVE_LIBREOFFICE
        office = [] { return std::make_unique<libreoffice::LibreOfficeServer>(); };
#endif
        return std::make_unique<RoutingServer>(
            corvane::jobs::jobOptions().server, [] { return std::make_unique<native::NativeServer>(); },
            office);
    });

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return corvane::cli::runCommandLine(arguments, out, err);
}
