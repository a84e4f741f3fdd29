#include "threadobject.h"

#include "joboptions.h"
#include "resultlists.h"
#include "runmonitor.h"
#include "serverregistry.h"

#include "automation/findreplace.h"
#include "automation/runskeleton.h"
#include "automation/sheetremoval.h"
#include "platform/textopener.h"

#include <QDir>

namespace corvane::jobs {

namespace {

// Turns the run's reports into the worker's signals and the result list files.
class WorkerSink : public automation::RunSink
{
public:
    WorkerSink(ThreadObject& worker, const JobOptions& options) : m_worker(worker), m_options(options) {}

    void status(const QString& text) override { emit m_worker.ShowDisposingFile(text); }
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
            emit m_worker.monitor()->fileFailed(QDir::toNativeSeparators(path), error);
            return;
        }
        if (m_options.openLists)
            platform::openTextFile(QDir::toNativeSeparators(path));
    }

private:
    ThreadObject& m_worker;
    const JobOptions& m_options;
};

} // namespace

ThreadObject::ThreadObject(QObject* parent) : QObject(parent), m_monitor(new RunMonitor(this)) {}

void ThreadObject::ReplaceExcelText()
{
    const JobOptions& options = jobOptions();
    WorkerSink sink(*this, options);
    automation::FindReplaceOperation operation(replaceOptions(options));
    automation::runOperation(runSettings(options), installedServerFactory(), operation, sink);
}

void ThreadObject::RemoveSheet()
{
    const JobOptions& options = jobOptions();
    WorkerSink sink(*this, options);
    automation::SheetRemovalOperation operation;
    automation::runOperation(runSettings(options), installedServerFactory(), operation, sink);
}

} // namespace corvane::jobs
