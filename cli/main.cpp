// corvane-cli: the bulk operations without a window, for scripts and servers.
#include "commands.h"

#include "automation/native/nativeserver.h"
#include "jobs/serverregistry.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    // Each run makes its server through this, on the thread that runs it (here the main one).
    corvane::jobs::installServerFactory(
        [] { return std::make_unique<corvane::automation::native::NativeServer>(); });

    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return corvane::cli::runCommandLine(arguments, out, err);
}
