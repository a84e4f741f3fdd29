#include "runskeleton.h"

#include "automationserver.h"
#include "folderwalk.h"
#include "sheet.h"
#include "workbook.h"

#include "platform/savefile.h"
#include "platform/workbooklock.h"

#include <QDateTime>

#include <utility>

namespace corvane::automation {

namespace {

// How long a workbook that another run holds is waited for: that run holds it only while it
// works on it.
constexpr int kLockWaitMs = 5000;

void append(QString& list, const QString& path)
{
    list += path;
    list += QLatin1Char('\n');
}

QString& listText(RunTotals& totals, ResultList list)
{
    switch (list) {
    case ResultList::OpenFailed:
        return totals.openFailedList;
    case ResultList::Matched:
        return totals.matchedList;
    case ResultList::Unmatched:
        break;
    }
    return totals.unmatchedList;
}

void quitServer(std::unique_ptr<AutomationServer>& server)
{
    if (server)
        server->quit();
    server.reset();
}

bool stopRequested(const RunControl& control)
{
    return control.stop && control.stop->isRequested();
}

// Saves through the front end's guard; false with `reason` when the workbook was not saved.
bool guardedSave(Workbook& workbook, const QString& path, const RunControl& control, QString* reason)
{
    if (control.saveGuard && !control.saveGuard->beforeSave(path, reason))
        return false;
    const bool saved = workbook.save();
    if (!saved)
        *reason = workbook.lastError();
    if (control.saveGuard)
        control.saveGuard->afterSave(path, saved);
    return saved;
}

// Passes everything on, and keeps what the outcome record of the workbook in hand needs: the
// changes sent for it and the reasons the operation gave for what it could not do.
class WorkbookSink : public RunSink
{
public:
    explicit WorkbookSink(RunSink& inner) : m_inner(inner) {}

    void status(const QString& text) override { m_inner.status(text); }
    void runEnded() override { m_inner.runEnded(); }
    void progress(int done, int total) override { m_inner.progress(done, total); }
    void workbookFailed(const QString& path, const QString& reason) override
    {
        if (!m_reasons.isEmpty())
            m_reasons += QStringLiteral("; ");
        m_reasons += reason;
        m_inner.workbookFailed(path, reason);
    }
    void serverFailed(const QString& reason) override { m_inner.serverFailed(reason); }
    void writeList(ResultList list, const QString& text) override { m_inner.writeList(list, text); }
    void change(const ChangeRecord& record) override
    {
        ++m_changes;
        m_inner.change(record);
    }
    void workbookOutcome(const WorkbookRecord& record) override { m_inner.workbookOutcome(record); }

    void begin()
    {
        m_changes = 0;
        m_reasons.clear();
    }
    int changes() const { return m_changes; }
    const QString& reasons() const { return m_reasons; }

private:
    RunSink& m_inner;
    int m_changes = 0;
    QString m_reasons;
};

void sendOutcome(RunSink& sink, const QString& path, WorkbookRecord::Outcome outcome, const QString& reason,
                 int changes = 0)
{
    sink.workbookOutcome({path, outcome, reason, changes});
}

// The end of a run whose summaries carry a note: first that the run was a preview or was
// stopped before its end, last what the save guard has to say (where the originals were kept).
// A preview writes no list, so that the lists of the last real run stay.
class NotedSink : public RunSink
{
public:
    NotedSink(RunSink& inner, QString before, QString after, bool listsKept)
        : m_inner(inner), m_before(std::move(before)), m_after(std::move(after)), m_listsKept(listsKept)
    {
    }

    void status(const QString& text) override { m_inner.status(m_before + text + m_after); }
    void runEnded() override { m_inner.runEnded(); }
    void progress(int done, int total) override { m_inner.progress(done, total); }
    void workbookFailed(const QString& path, const QString& reason) override
    {
        m_inner.workbookFailed(path, reason);
    }
    void serverFailed(const QString& reason) override { m_inner.serverFailed(reason); }
    void writeList(ResultList list, const QString& text) override
    {
        if (!m_listsKept)
            m_inner.writeList(list, text);
    }
    void change(const ChangeRecord& record) override { m_inner.change(record); }
    void workbookOutcome(const WorkbookRecord& record) override { m_inner.workbookOutcome(record); }

private:
    RunSink& m_inner;
    QString m_before;
    QString m_after;
    bool m_listsKept;
};

} // namespace

QString stoppedNote(int done, int total)
{
    return QStringLiteral("已停止运行,共%1个Excel文件,处理了%2个。").arg(total).arg(done);
}

QString previewNote()
{
    return QStringLiteral("预览,未保存任何文件。");
}

QString serverMissingMessage()
{
    return QStringLiteral("本功能需要电脑中装有微软office或金山wps专业版(注意是专业版,不是个人版)!");
}

RunEnd runOperation(const RunSettings& settings, const ServerFactory& makeServer, Operation& operation,
                    RunSink& sink, const RunControl& control)
{
    const qint64 start = QDateTime::currentSecsSinceEpoch();
    const QStringList entries = ListFolderFiles(settings.sourcePath);

    std::unique_ptr<AutomationServer> server = makeServer ? makeServer() : nullptr;
    if (server) {
        server->expectWork(operation.workKind());
        server->expectFormula(operation.writtenFormula());
    }
    if (operation.sendsStartNotes())
        sink.status(QStringLiteral("excel OK!"));
    const bool available = server && server->isAvailable();
    if (operation.sendsStartNotes())
        sink.status(QStringLiteral("WorkBooks OK!"));
    if (!available) {
        // Without the end signal the window would stay busy until it is restarted.
        const QString own = server ? server->missingMessage() : QString();
        sink.status(own.isEmpty() ? serverMissingMessage() : own);
        sink.serverFailed(server ? server->lastError()
                                 : QStringLiteral("no spreadsheet server is installed"));
        quitServer(server);
        sink.runEnded();
        return RunEnd::ServerMissing;
    }

    QStringList workbooks;
    for (const QString& entry : entries) {
        // What a killed run's save left behind; removed as the walk passes it.
        if (platform::isSaveTempName(entry)) {
            if (!settings.dryRun)
                platform::removeStaleSaveFile(entry);
            continue;
        }
        const QString path = workbookPath(entry);
        if (isWorkbookPath(path))
            workbooks.append(path);
    }

    RunTotals totals;
    WorkbookSink bookSink(sink);
    const int total = int(workbooks.size());
    sink.progress(0, total);
    int stoppedAfter = -1;
    for (int done = 0; done < total; ++done) {
        if (stopRequested(control)) {
            stoppedAfter = done;
            break;
        }
        const QString& path = workbooks.at(done);
        sink.status(operation.progressLine(path));
        // Held until the workbook is closed, so that another run working on the same folder
        // neither reads it half-changed nor overwrites what this run saved.
        platform::WorkbookLock lock;
        if (!lock.acquire(path, kLockWaitMs)) {
            append(totals.openFailedList, path);
            sink.workbookFailed(path, platform::inUseByAnotherRunReason());
            sendOutcome(sink, path, WorkbookRecord::Outcome::Failed, platform::inUseByAnotherRunReason());
            sink.progress(done + 1, total);
            continue;
        }
        std::unique_ptr<Workbook> workbook = server->open(path);
        if (!workbook) {
            append(totals.openFailedList, path);
            sink.workbookFailed(path, server->lastError());
            sendOutcome(sink, path, WorkbookRecord::Outcome::Failed, server->lastError());
            sink.progress(done + 1, total);
            continue;
        }
        ++totals.opened;

        operation.takeUpWorkbook(path);
        operation.beginWorkbook();
        bookSink.begin();
        const int toVisit = operation.picksOwnSheets() ? 0
                            : settings.onlyFirstSheet  ? 1
                                                       : workbook->sheetCount();
        if (operation.picksOwnSheets())
            operation.workOnWorkbook(
                *workbook, {settings.onlyFirstSheet, settings.appointedSheet, settings.appointedSheetName},
                bookSink);
        for (int i = 1; i <= toVisit; ++i) {
            Sheet* sheet = workbook->sheet(i);
            if (!sheet)
                continue;
            if (settings.appointedSheet && sheet->name() != settings.appointedSheetName)
                continue;
            const Operation::AfterSheet next = operation.workOnSheet(*sheet, bookSink);
            if (next == Operation::AfterSheet::EndRun) {
                sendOutcome(
                    sink, path, WorkbookRecord::Outcome::Refused,
                    QStringLiteral("the run was cut short on sheet \"%1\"; the workbook was not saved")
                        .arg(sheet->name()),
                    bookSink.changes());
                sink.runEnded();
                workbook->close();
                workbook.reset();
                quitServer(server);
                return RunEnd::CutShort;
            }
            if (next == Operation::AfterSheet::EndWorkbook)
                break;
        }

        operation.afterSheets(*workbook,
                              {settings.onlyFirstSheet, settings.appointedSheet, settings.appointedSheetName},
                              bookSink);
        const Operation::WorkbookOutcome outcome = operation.endWorkbook();
        const QString damage = workbook->damage();
        const int changes = bookSink.changes();
        if (!damage.isEmpty() && outcome.list != ResultList::OpenFailed) {
            // Some of it could not be read, so it was not worked on as asked: saving the rest
            // would pass a partial change off as done.
            operation.dropWorkbook();
            append(totals.openFailedList, path);
            sink.workbookFailed(path, damage);
            sendOutcome(sink, path, WorkbookRecord::Outcome::Failed, damage, changes);
        } else if (QString reason;
                   outcome.save && !settings.dryRun && !guardedSave(*workbook, path, control, &reason)) {
            // Changed in memory only: reporting it as modified would be a lie.
            operation.dropWorkbook();
            append(totals.openFailedList, path);
            sink.workbookFailed(path, reason);
            sendOutcome(sink, path, WorkbookRecord::Outcome::Failed, QStringLiteral("save failed: ") + reason,
                        changes);
        } else {
            if (outcome.list) {
                append(listText(totals, *outcome.list), path);
                if (*outcome.list == ResultList::Matched)
                    ++totals.matched;
            }
            WorkbookRecord::Outcome result = WorkbookRecord::Outcome::Unchanged;
            if (outcome.list == ResultList::OpenFailed)
                result = WorkbookRecord::Outcome::Refused;
            else if (outcome.save && changes > 0)
                result = WorkbookRecord::Outcome::Changed;
            QString reasons = bookSink.reasons();
            if (reasons.isEmpty() && outcome.list == ResultList::Matched && !outcome.save)
                reasons = QStringLiteral("holds the text");
            sendOutcome(sink, path, result, reasons, changes);
        }
        workbook->close();
        sink.progress(done + 1, total);
    }

    QString before = settings.dryRun ? previewNote() : QString();
    if (stoppedAfter >= 0)
        before += stoppedNote(stoppedAfter, total);
    NotedSink endSink(sink, before, control.saveGuard ? control.saveGuard->summaryNote() : QString(),
                      settings.dryRun);
    if (operation.quitsBeforeSummary()) {
        quitServer(server);
        totals.seconds = QDateTime::currentSecsSinceEpoch() - start;
        operation.finishRun(totals, endSink);
    } else {
        totals.seconds = QDateTime::currentSecsSinceEpoch() - start;
        operation.finishRun(totals, endSink);
        quitServer(server);
    }
    return stoppedAfter >= 0 ? RunEnd::Stopped : RunEnd::Completed;
}

} // namespace corvane::automation
