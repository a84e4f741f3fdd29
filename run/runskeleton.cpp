#include "run/runskeleton.h"

#include "automation/automationserver.h"
#include "run/deferredsink.h"
#include "run/folderwalk.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include "platform/savefile.h"
#include "platform/workbooklock.h"

#include <QDateTime>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace corvane::automation {

namespace {

// How long a workbook that another run holds is waited for: that run holds it only while it
// works on it.
constexpr int kLockWaitMs = 5000;

// However many workbooks at once are asked for: more threads gain nothing on the machines this
// runs on, and thousands of them (one per workbook of a large folder) could fail to start.
constexpr int kMaxWorkers = 64;

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
// `guardMutex`, when given, keeps the guard's calls for workbooks saved beside each other from
// running at the same time.
bool guardedSave(Workbook& workbook, const QString& path, const RunControl& control, QString* reason,
                 std::mutex* guardMutex)
{
    if (control.saveGuard) {
        std::unique_lock<std::mutex> lock;
        if (guardMutex)
            lock = std::unique_lock<std::mutex>(*guardMutex);
        if (!control.saveGuard->beforeSave(path, reason))
            return false;
    }
    const bool saved = workbook.save();
    if (!saved)
        *reason = workbook.lastError();
    if (control.saveGuard) {
        std::unique_lock<std::mutex> lock;
        if (guardMutex)
            lock = std::unique_lock<std::mutex>(*guardMutex);
        control.saveGuard->afterSave(path, saved);
    }
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

enum class WorkbookEnd
{
    Done,
    EndRun,    // the operation ended the run on it: the run's end signal was sent, nothing saved
    Abandoned, // a workbook before it ended the run: closed unsaved, its reports are not for anyone
    HandedOver // the server wants it opened on the run's thread, where it is taken up again
};

// Everything one workbook goes through, whichever thread it is worked on.
struct WorkbookStep
{
    const RunSettings& settings;
    const RunControl& control;
    // Opens the workbook; a hand-over ends the step.
    std::function<ConcurrentOpen(const QString&)> open;
    // Asked just before the workbook is saved: false when it must not be, because a workbook
    // before it in walk order ended the run.
    std::function<bool()> maySave;
    std::mutex* guardMutex = nullptr;
};

WorkbookEnd workOnWorkbook(const WorkbookStep& step, const QString& path, int done, int total,
                           Operation& operation, RunSink& sink, RunTotals& totals)
{
    const RunSettings& settings = step.settings;
    sink.status(operation.progressLine(path));
    const auto failed = [&](const QString& reason) {
        append(totals.openFailedList, path);
        sink.workbookFailed(path, reason);
        sendOutcome(sink, path, WorkbookRecord::Outcome::Failed, reason);
        sink.progress(done + 1, total);
        return WorkbookEnd::Done;
    };
    // Held until the workbook is closed, so that another run working on the same folder
    // neither reads it half-changed nor overwrites what this run saved.
    platform::WorkbookLock lock;
    if (!lock.acquire(path, kLockWaitMs))
        return failed(platform::inUseByAnotherRunReason());
    ConcurrentOpen opened = step.open(path);
    if (opened.handOver)
        return WorkbookEnd::HandedOver;
    std::unique_ptr<Workbook> workbook = std::move(opened.workbook);
    if (!workbook)
        return failed(opened.error);
    ++totals.opened;

    operation.takeUpWorkbook(path);
    operation.beginWorkbook();
    WorkbookSink bookSink(sink);
    const int toVisit = operation.picksOwnSheets() ? 0 : settings.onlyFirstSheet ? 1 : workbook->sheetCount();
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
            sendOutcome(sink, path, WorkbookRecord::Outcome::Refused,
                        QStringLiteral("the run was cut short on sheet \"%1\"; the workbook was not saved")
                            .arg(sheet->name()),
                        bookSink.changes());
            sink.runEnded();
            workbook->close();
            return WorkbookEnd::EndRun;
        }
        if (next == Operation::AfterSheet::EndWorkbook)
            break;
    }

    operation.afterSheets(
        *workbook, {settings.onlyFirstSheet, settings.appointedSheet, settings.appointedSheetName}, bookSink);
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
    } else if (outcome.save && step.maySave && !step.maySave()) {
        workbook->close();
        return WorkbookEnd::Abandoned;
    } else if (QString reason; outcome.save && !settings.dryRun &&
                               !guardedSave(*workbook, path, step.control, &reason, step.guardMutex)) {
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
    return WorkbookEnd::Done;
}

// Opens on the run's thread, where every file may go to any of the server's parts.
ConcurrentOpen openHere(AutomationServer& server, const QString& path)
{
    ConcurrentOpen opened;
    opened.workbook = server.open(path);
    if (!opened.workbook)
        opened.error = server.lastError();
    return opened;
}

void addTotals(RunTotals& into, const RunTotals& workbook)
{
    into.opened += workbook.opened;
    into.matched += workbook.matched;
    into.openFailedList += workbook.openFailedList;
    into.matchedList += workbook.matchedList;
    into.unmatchedList += workbook.unmatchedList;
}

// Works on the workbooks of a run several at a time. Each is taken up, in walk order, by one
// of the worker threads, with its own copy of the operation and a sink that records; the run's
// thread replays the records in walk order and folds the counts into the run, so that the user
// sees what a run one workbook after another shows. A workbook the server hands over (one for
// an office) is worked on by the run's thread itself when its turn comes.
class ConcurrentRun
{
public:
    ConcurrentRun(const QStringList& workbooks, int jobs, const RunSettings& settings,
                  const RunControl& control, AutomationServer& server, const Operation& prototype)
        : m_workbooks(workbooks), m_total(int(workbooks.size())), m_jobs(jobs), m_settings(settings),
          m_control(control), m_server(server), m_prototype(prototype), m_slots(size_t(m_total)),
          m_cutAt(m_total), m_stopAt(m_total)
    {
    }

    ~ConcurrentRun() { joinWorkers(); }
    ConcurrentRun(const ConcurrentRun&) = delete;
    ConcurrentRun& operator=(const ConcurrentRun&) = delete;

    // Returns the end of the run: Completed, CutShort (the run's end signal was sent) or Stopped
    // with `stoppedAfter` set to the number of workbooks taken up.
    RunEnd run(Operation& operation, RunSink& sink, RunTotals& totals, int& stoppedAfter)
    {
        const int workers = std::min({m_jobs, m_total, kMaxWorkers});
        for (int i = 0; i < workers; ++i)
            m_workers.emplace_back([this] { work(); });

        WorkbookStep onRunThread = step();
        onRunThread.open = [this](const QString& path) { return openHere(m_server, path); };
        // Every workbook before it is done by the time its turn comes.
        onRunThread.maySave = nullptr;

        for (int i = 0; i < m_total; ++i) {
            Slot& slot = m_slots[size_t(i)];
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return slot.state == State::Finished || slot.state == State::HandedOver || m_stopAt <= i;
                });
                if (slot.state != State::Finished && slot.state != State::HandedOver) {
                    stoppedAfter = i;
                    break;
                }
            }
            if (slot.state == State::HandedOver) {
                const WorkbookEnd end =
                    workOnWorkbook(onRunThread, m_workbooks.at(i), i, m_total, operation, sink, totals);
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    workDone(i, end == WorkbookEnd::EndRun);
                    slot.state = State::Finished;
                    --m_inFlight;
                    m_changed.notify_all();
                }
                if (end == WorkbookEnd::EndRun)
                    return cutShort(i);
                continue;
            }
            slot.record.replay(sink);
            if (slot.end == WorkbookEnd::EndRun)
                return cutShort(i);
            addTotals(totals, slot.totals);
            operation.foldWorkbook(*slot.operation);
            slot.operation.reset();
            slot.record = DeferredSink{};
        }
        close();
        joinWorkers();
        return stoppedAfter >= 0 ? RunEnd::Stopped : RunEnd::Completed;
    }

private:
    enum class State
    {
        Waiting,
        Working,
        Finished,
        HandedOver
    };

    struct Slot
    {
        State state = State::Waiting;
        bool workDone = false; // past its sheets: whether it ends the run is known
        WorkbookEnd end = WorkbookEnd::Done;
        DeferredSink record;
        RunTotals totals;
        std::unique_ptr<Operation> operation;
    };

    WorkbookStep step() const { return WorkbookStep{m_settings, m_control, {}, {}, &m_guardMutex}; }

    // With m_mutex held.
    void workDone(int index, bool endsRun)
    {
        m_slots[size_t(index)].workDone = true;
        if (endsRun) {
            // Nothing after it is taken up any more: a run one workbook after another would
            // not have opened it.
            m_cutAt = std::min(m_cutAt, index);
            m_closed = true;
        }
        while (m_doneBefore < m_total && m_slots[size_t(m_doneBefore)].workDone)
            ++m_doneBefore;
    }

    // Whether the workbook at `index`, past its sheets, may be saved: only once every workbook
    // before it is past its sheets too and none of them ended the run.
    bool maySave(int index)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        workDone(index, false);
        m_changed.notify_all();
        m_changed.wait(lock, [&] { return m_doneBefore >= index || m_cutAt < index; });
        return m_cutAt > index;
    }

    void work()
    {
        WorkbookStep beside = step();
        beside.open = [this](const QString& path) { return m_server.openConcurrently(path); };
        for (;;) {
            int index = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return m_closed || m_inFlight < m_jobs; });
                if (m_closed || m_next >= m_total)
                    return;
                // Checked as the run one workbook after another checks it: before each one is
                // taken up. The ones taken up are finished.
                if (m_control.stop && m_control.stop->isRequested()) {
                    m_stopAt = m_next;
                    m_closed = true;
                    m_changed.notify_all();
                    return;
                }
                index = m_next++;
                ++m_inFlight;
                m_slots[size_t(index)].state = State::Working;
            }
            Slot& slot = m_slots[size_t(index)];
            slot.operation = m_prototype.workbookCopy();
            beside.maySave = [this, index] { return maySave(index); };
            const WorkbookEnd end = workOnWorkbook(beside, m_workbooks.at(index), index, m_total,
                                                   *slot.operation, slot.record, slot.totals);
            std::lock_guard<std::mutex> lock(m_mutex);
            slot.end = end;
            if (end == WorkbookEnd::HandedOver) {
                // It keeps its place among the open workbooks until the run's thread is done.
                slot.record = DeferredSink{};
                slot.totals = RunTotals{};
                slot.state = State::HandedOver;
            } else {
                workDone(index, end == WorkbookEnd::EndRun);
                slot.state = State::Finished;
                --m_inFlight;
            }
            m_changed.notify_all();
        }
    }

    RunEnd cutShort(int index)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_cutAt = std::min(m_cutAt, index);
        }
        close();
        joinWorkers();
        return RunEnd::CutShort;
    }

    void close()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }

    void joinWorkers()
    {
        for (std::thread& worker : m_workers)
            worker.join();
        m_workers.clear();
    }

    const QStringList& m_workbooks;
    const int m_total;
    const int m_jobs;
    const RunSettings& m_settings;
    const RunControl& m_control;
    AutomationServer& m_server;
    const Operation& m_prototype;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Slot> m_slots;
    int m_next = 0;       // the next workbook to take up
    int m_inFlight = 0;   // taken up and not finished: open, or about to be
    int m_doneBefore = 0; // every workbook before this one is past its sheets
    int m_cutAt;          // the first workbook that ended the run; m_total for none
    int m_stopAt;         // no workbook from here on is taken up (a stop request)
    bool m_closed = false;
    mutable std::mutex m_guardMutex;
    std::vector<std::thread> m_workers;
};

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

int effectiveJobs(int jobs)
{
    return jobs > 0 ? jobs : std::max(1, QThread::idealThreadCount());
}

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
        server->expectFormulaRewrite(operation.formulaRewrite());
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
    const int total = int(workbooks.size());
    sink.progress(0, total);
    int stoppedAfter = -1;
    const int jobs = effectiveJobs(settings.jobs);
    std::unique_ptr<Operation> prototype;
    if (jobs > 1 && total > 1 && server->opensConcurrently())
        prototype = operation.workbookCopy();
    if (prototype) {
        ConcurrentRun concurrent(workbooks, jobs, settings, control, *server, *prototype);
        if (concurrent.run(operation, sink, totals, stoppedAfter) == RunEnd::CutShort) {
            quitServer(server);
            return RunEnd::CutShort;
        }
    } else {
        WorkbookStep step{settings, control, {}, {}, nullptr};
        AutomationServer& here = *server;
        step.open = [&here](const QString& path) { return openHere(here, path); };
        for (int done = 0; done < total; ++done) {
            if (stopRequested(control)) {
                stoppedAfter = done;
                break;
            }
            if (workOnWorkbook(step, workbooks.at(done), done, total, operation, sink, totals) ==
                WorkbookEnd::EndRun) {
                quitServer(server);
                return RunEnd::CutShort;
            }
        }
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
