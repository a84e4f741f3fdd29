#include "threadobject.h"

#include "backup.h"
#include "changereport.h"
#include "joboptions.h"
#include "picturejob.h"
#include "resultlists.h"
#include "runmonitor.h"
#include "serverregistry.h"

#include "operations/cellrewrite.h"
#include "operations/findreplace.h"
#include "operations/pictureinsertion.h"
#include "run/runskeleton.h"
#include "operations/sheetremoval.h"
#include "platform/textopener.h"

#include <QDir>
#include <QFile>

#include <memory>
#include <optional>

namespace corvane::jobs {

namespace {

// Turns the run's reports into the worker's signals and the result list files.
class WorkerSink : public automation::RunSink
{
public:
    WorkerSink(ThreadObject& worker, const JobOptions& options) : m_worker(worker), m_options(options) {}

    // Once a result list could not be written, every later status line says so too: the
    // summary that follows would otherwise hide it.
    void status(const QString& text) override
    {
        emit m_worker.ShowDisposingFile(m_listFailure.isEmpty() ? text
                                                                : text + QLatin1Char(' ') + m_listFailure);
    }
    void runEnded() override { emit m_worker.Set_pBtn_Enable(); }
    void progress(int done, int total) override { emit m_worker.monitor()->progressed(done, total); }
    void workbookFailed(const QString& path, const QString& reason) override
    {
        emit m_worker.monitor()->fileFailed(path, reason);
    }
    void serverFailed(const QString& reason) override { emit m_worker.monitor()->serverFailed(reason); }
    void writeList(automation::ResultList list, const QString& text) override
    {
        const QString path = listPath(m_options, list);
        QString error;
        if (!writeResultList(path, text, &error)) {
            m_listFailure = listNotWrittenMessage(QDir::toNativeSeparators(path));
            emit m_worker.ShowDisposingFile(m_listFailure);
            emit m_worker.monitor()->listFailed(QDir::toNativeSeparators(path), error);
            return;
        }
        if (m_options.openLists && !m_worker.listsKeptClosed())
            platform::openTextFile(QDir::toNativeSeparators(path));
    }

private:
    ThreadObject& m_worker;
    const JobOptions& m_options;
    QString m_listFailure;
};

// Clears the cell job's mode flags just before the window may take the next launch, however
// the run ends.
class CellJobSink : public automation::RunSink
{
public:
    CellJobSink(automation::RunSink& inner, JobOptions& options) : m_inner(inner), m_options(options) {}

    void status(const QString& text) override { m_inner.status(text); }
    void runEnded() override
    {
        clearCellModes(m_options);
        m_inner.runEnded();
    }
    void progress(int done, int total) override { m_inner.progress(done, total); }
    void workbookFailed(const QString& path, const QString& reason) override
    {
        m_inner.workbookFailed(path, reason);
    }
    void serverFailed(const QString& reason) override { m_inner.serverFailed(reason); }
    void writeList(automation::ResultList list, const QString& text) override
    {
        m_inner.writeList(list, text);
    }

private:
    automation::RunSink& m_inner;
    JobOptions& m_options;
};

// The operation of the set mode flag; null for a mode that has no operation here.
std::unique_ptr<automation::CellJobOperation> cellJobOperation(const JobOptions& options)
{
    if (const std::optional<automation::CellRewriteOptions> rewrite = cellRewriteOptions(options))
        return std::make_unique<automation::CellRewriteOperation>(*rewrite);
    if (const std::optional<automation::RowColumnOptions> lines = rowColumnOptions(options))
        return std::make_unique<automation::RowColumnOperation>(*lines);
    return nullptr;
}

} // namespace

ThreadObject::ThreadObject(QObject* parent) : QObject(parent), m_monitor(new RunMonitor(this)) {}

automation::RunEnd ThreadObject::run(automation::Operation& operation, automation::RunSink& sink)
{
    const JobOptions& options = jobOptions();
    // Nothing is saved in a preview, so there is nothing to back up.
    std::optional<WorkbookBackup> backup;
    if (!options.backupFolder.isEmpty() && !options.dryRun)
        backup.emplace(options.sourcePath, options.backupFolder);
    automation::RunControl control;
    control.stop = &m_stop;
    control.saveGuard = backup ? &*backup : nullptr;

    ChangeReport report;
    const QString reportPath = options.reportPath;
    if (!reportPath.isEmpty()) {
        QString error;
        if (!report.open(reportPath, reportFormatFor(reportPath).value_or(ReportFormat::JsonLines), &error)) {
            // Changing workbooks without the record that was asked for is not what the user wanted.
            emit m_monitor->reportFailed(QDir::toNativeSeparators(reportPath), error);
            sink.status(reportNotWrittenMessage(QDir::toNativeSeparators(reportPath)));
            sink.runEnded();
            emit m_monitor->runCutShort();
            return automation::RunEnd::CutShort;
        }
    }
    ReportSink reportSink(sink, report);
    const automation::RunEnd end = automation::runOperation(
        runSettings(jobOptions()), installedServerFactory(), operation,
        reportPath.isEmpty() ? sink : static_cast<automation::RunSink&>(reportSink), control);
    if (!reportPath.isEmpty()) {
        QString error;
        if (report.close(&error))
            emit m_monitor->reportWritten(reportPath);
        else
            emit m_monitor->reportFailed(QDir::toNativeSeparators(reportPath), error);
    }
    if (end == automation::RunEnd::CutShort)
        emit m_monitor->runCutShort();
    else if (end == automation::RunEnd::Stopped)
        emit m_monitor->runStopped();
    return end;
}

void ThreadObject::ReplaceExcelText()
{
    const JobOptions& options = jobOptions();
    WorkerSink sink(*this, options);
    automation::FindReplaceOperation operation(replaceOptions(options));
    run(operation, sink);
}

void ThreadObject::CellFillText()
{
    JobOptions& options = jobOptions();
    WorkerSink workerSink(*this, options);
    CellJobSink sink(workerSink, options);
    const std::unique_ptr<automation::CellJobOperation> operation = cellJobOperation(options);
    if (!operation) {
        // No launch sends a mode without an operation; should one arrive, the window must not
        // stay busy for it.
        sink.runEnded();
        return;
    }
    run(*operation, sink);
}

void ThreadObject::RemoveSheet()
{
    const JobOptions& options = jobOptions();
    WorkerSink sink(*this, options);
    automation::SheetRemovalOperation operation;
    run(operation, sink);
}

void ThreadObject::PicInsert()
{
    JobOptions& options = jobOptions();
    WorkerSink sink(*this, options);
    automation::PictureInsertionOperation operation(pictureInsertionOptions(options));
    run(operation, sink);
    // The run deletes the transparent copy at its end; a run that never got there (no server
    // could be started) must not leave it behind either.
    if (wantsTransparentCopy(options))
        QFile::remove(options.picPath);
}

} // namespace corvane::jobs
