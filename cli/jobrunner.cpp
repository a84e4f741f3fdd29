#include "jobrunner.h"

#include "jobs/backup.h"
#include "jobs/changereport.h"
#include "jobs/launch.h"
#include "jobs/runmonitor.h"
#include "signalstop.h"

#include <QDir>
#include <QTextStream>

namespace corvane::cli {

int runJob(const ParsedOptions& options, QTextStream& out, QTextStream& err,
           const std::function<void(jobs::JobOptions&)>& fill, WorkerSlot slot, const LaunchChecks& checks)
{
    const auto refused = [&err](const std::function<QString(const jobs::JobOptions&)>& check,
                                const jobs::JobOptions& job) {
        const QString message = check ? check(job) : QString();
        if (!message.isEmpty()) {
            err << message << '\n';
            err.flush();
        }
        return !message.isEmpty();
    };

    jobs::JobOptions& job = jobs::jobOptions();
    job.sourcePath = options.value(QStringLiteral("folder"));
    job.onlyFirstSheet = options.isSet(QStringLiteral("first-sheet"));
    job.appointedSheet = options.isSet(QStringLiteral("sheet"));
    if (job.appointedSheet)
        job.appointedSheetName = options.value(QStringLiteral("sheet"));
    job.openLists = options.isSet(QStringLiteral("open-lists"));
    job.server = automation::parseServerChoice(options.value(QStringLiteral("server")))
                     .value_or(automation::ServerChoice::Auto);
    job.jobs = jobCount(options);
    job.backupFolder.clear();
    if (options.isSet(QStringLiteral("backup")))
        job.backupFolder = QDir(options.value(QStringLiteral("backup"))).absolutePath();
    job.dryRun = options.isSet(QStringLiteral("dry-run"));
    job.reportPath.clear();
    if (options.isSet(QStringLiteral("report")))
        job.reportPath = QDir(options.value(QStringLiteral("report"))).absolutePath();
    fill(job);
    if (refused(checks.beforeLists, job))
        return ExitRefused;
    if (!job.backupFolder.isEmpty() && !job.dryRun) {
        const QString problem = jobs::backupFolderProblem(job.backupFolder, job.sourcePath);
        if (!problem.isEmpty()) {
            err << problem << '\n';
            err.flush();
            return ExitRefused;
        }
    }

    if (!job.reportPath.isEmpty()) {
        // Refused before the old lists go: a run whose report cannot be written does not start.
        jobs::ChangeReport probe;
        QString problem;
        if (!probe.open(job.reportPath,
                        jobs::reportFormatFor(job.reportPath).value_or(jobs::ReportFormat::Csv), &problem)) {
            err << QDir::toNativeSeparators(job.reportPath) << ": " << problem << '\n';
            err.flush();
            return ExitRefused;
        }
    }

    if (!jobs::prepareRun(job)) {
        err << jobs::folderMissingMessage() << '\n';
        err.flush();
        return ExitRefused;
    }
    if (refused(checks.afterFolder, job))
        return ExitRefused;
    if (checks.beforeRun)
        checks.beforeRun(job);

    // The command line is its own worker thread: the server is made and used right here.
    jobs::ThreadObject worker;
    bool serverMissing = false;
    QObject::connect(&worker, &jobs::ThreadObject::ShowDisposingFile, [&out](const QString& text) {
        out << text << '\n';
        out.flush();
    });
    QObject::connect(worker.monitor(), &jobs::RunMonitor::fileFailed,
                     [&err](const QString& path, const QString& reason) {
                         err << path << ": " << reason << '\n';
                         err.flush();
                     });
    QObject::connect(worker.monitor(), &jobs::RunMonitor::serverFailed, [&](const QString& reason) {
        serverMissing = true;
        if (!reason.isEmpty())
            err << reason << '\n';
        err.flush();
    });
    // Lists nobody can read are a failed run for a script, however the workbooks went.
    bool listFailed = false;
    QObject::connect(worker.monitor(), &jobs::RunMonitor::listFailed,
                     [&](const QString& path, const QString& reason) {
                         listFailed = true;
                         err << path << ": " << reason << '\n';
                         err.flush();
                     });
    bool reportFailed = false;
    QObject::connect(worker.monitor(), &jobs::RunMonitor::reportFailed,
                     [&](const QString& path, const QString& reason) {
                         reportFailed = true;
                         err << path << ": " << reason << '\n';
                         err.flush();
                     });
    bool cutShort = false;
    QObject::connect(worker.monitor(), &jobs::RunMonitor::runCutShort, [&cutShort] { cutShort = true; });
    bool stopped = false;
    QObject::connect(worker.monitor(), &jobs::RunMonitor::runStopped, [&stopped] { stopped = true; });
    {
        const SignalStop watcher([&worker] { worker.requestStop(); });
        (worker.*slot)();
        if (stopped && watcher.signal() != 0)
            return exitStatusForSignal(watcher.signal());
    }
    return serverMissing || cutShort || listFailed || reportFailed ? ExitRefused : ExitCompleted;
}

} // namespace corvane::cli
