// The skeleton driven by the find-and-replace operation and by a scripted operation, over
// the in-memory test server.
#include "operations/findreplace.h"
#include "run/runskeleton.h"
#include "tests/support/memoryserver.h"
#include "tests/support/recordingsink.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>

using namespace corvane::automation;
using namespace corvane::testsupport;

namespace {

struct Fixture
{
    QTemporaryDir dir;
    std::shared_ptr<ServerJournal> journal = std::make_shared<ServerJournal>();
    RecordingSink sink;
    bool serverAvailable = true;

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

    ServerFactory factory()
    {
        return [this] { return std::make_unique<MemoryServer>(journal, serverAvailable); };
    }

    RunEnd replace(const QString& find, const QString& with, bool justShow = false, RunSettings settings = {})
    {
        settings.sourcePath = dir.path() + QLatin1Char('/');
        FindReplaceOperation op({find, with, justShow});
        return runOperation(settings, factory(), op, sink);
    }
};

void writeJunk(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("PK\x03\x04 not really");
}

// The seconds vary with the machine; everything else must be exact.
QString withoutSeconds(QString text)
{
    return text.replace(QRegularExpression(QStringLiteral("耗时\\d+秒。")), QStringLiteral("耗时N秒。"));
}

} // namespace

TEST(RunSkeleton, EmptyFolderStillStartsAndQuitsTheServerAndWritesNoList)
{
    Fixture f;
    QFile(f.path("notes.txt")).open(QIODevice::WriteOnly);
    EXPECT_EQ(f.replace("a", "b"), RunEnd::Completed);
    EXPECT_EQ(f.journal->serversMade, 1);
    EXPECT_EQ(f.journal->quits, 1);
    EXPECT_EQ(f.journal->destroyed, 1);
    EXPECT_TRUE(f.journal->opened.isEmpty());
    ASSERT_EQ(f.sink.events.size(), 3);
    EXPECT_EQ(f.sink.events[0], "progress:0/0");
    EXPECT_EQ(withoutSeconds(f.sink.events[1]), "status:查找修改0个Excel文件,耗时N秒。");
    EXPECT_EQ(f.sink.events[2], "ended");
}

TEST(RunSkeleton, FailedMatchedUnmatchedInVisitOrderWithBothSummaries)
{
    Fixture f;
    writeJunk(f.path("broken.xlsx"));
    writeMemoryWorkbook(f.path("hit.xlsx"), {{"Sheet1", {{"B2", "old value"}}}});
    writeMemoryWorkbook(f.path("miss.XLSX"), {{"Sheet1", {{"A1", "nothing"}}}});
    writeMemoryWorkbook(f.path("~$hit.xlsx"), {{"Sheet1", {{"A1", "old"}}}});

    EXPECT_EQ(f.replace("OLD", "new"), RunEnd::Completed);

    // The lock file is skipped without a trace.
    EXPECT_EQ(f.journal->opened.size(), 3);
    EXPECT_FALSE(f.journal->opened.join(' ').contains("~$"));
    const QString broken = QDir::toNativeSeparators(f.path("broken.xlsx"));
    const QString hit = QDir::toNativeSeparators(f.path("hit.xlsx"));
    const QString miss = QDir::toNativeSeparators(f.path("miss.XLSX"));
    EXPECT_EQ(f.sink.lists.value("OpenFailed"), broken + "\n");
    EXPECT_EQ(f.sink.lists.value("Matched"), hit + "\n");
    EXPECT_EQ(f.sink.lists.value("Unmatched"), miss + "\n");

    // One progress line per workbook (the path alone), then the end in its fixed order.
    const QStringList statuses = f.sink.only("status:");
    ASSERT_EQ(statuses.size(), 5);
    QStringList progressLines = statuses.mid(0, 3);
    progressLines.sort();
    QStringList expected{broken, hit, miss};
    expected.sort();
    EXPECT_EQ(progressLines, expected);
    const int end = int(f.sink.events.indexOf(QStringLiteral("ended")));
    ASSERT_GT(end, 0);
    const QStringList tail = f.sink.events.mid(end - 1);
    ASSERT_EQ(tail.size(), 6);
    EXPECT_EQ(withoutSeconds(tail[0]), "status:查找修改1个Excel文件,耗时N秒。");
    EXPECT_EQ(tail[1], "ended");
    EXPECT_EQ(tail[2], "list:OpenFailed");
    EXPECT_EQ(withoutSeconds(tail[3]), "status:查找2个Excel文件,包含查找内容有1个Excel文件,耗时N秒。");
    EXPECT_EQ(tail[4], "list:Matched");
    EXPECT_EQ(tail[5], "list:Unmatched");
    EXPECT_TRUE(f.sink.events.contains("failed:" + broken + ":not a workbook"));
    EXPECT_TRUE(f.sink.events.contains("progress:3/3"));

    EXPECT_EQ(readMemorySheet(f.path("hit.xlsx"), 0).value("B2").toString(), "new value");
    EXPECT_EQ(f.journal->saved, QStringList{f.path("hit.xlsx")});
    // Opened workbooks are closed, the broken one never was.
    EXPECT_EQ(f.journal->closed.size(), 2);
}

TEST(RunSkeleton, SheetSelection)
{
    const std::vector<std::pair<QString, SheetCells>> threeSheets = {
        {"data", {{"A1", "x"}}}, {"Sheet1", {{"A1", "x"}}}, {"Data", {{"A1", "x"}}}};

    struct Case
    {
        const char* name;
        bool onlyFirst;
        bool appointed;
        const char* sheetName;
        std::vector<bool> changed;
    };
    const Case cases[] = {
        {"all sheets", false, false, "", {true, true, true}},
        {"only the first", true, false, "", {true, false, false}},
        {"appointed, case-sensitive", false, true, "Data", {false, false, true}},
        {"appointed but no sheet has the name", false, true, "DATA", {false, false, false}},
        {"both: first sheet named otherwise", true, true, "Data", {false, false, false}},
        {"both: first sheet has the name", true, true, "data", {true, false, false}},
    };
    for (const Case& c : cases) {
        Fixture f;
        writeMemoryWorkbook(f.path("w.xlsx"), threeSheets);
        RunSettings s;
        s.onlyFirstSheet = c.onlyFirst;
        s.appointedSheet = c.appointed;
        s.appointedSheetName = QString::fromUtf8(c.sheetName);
        f.replace("x", "y", false, s);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(readMemorySheet(f.path("w.xlsx"), i).value("A1").toString(),
                      c.changed[size_t(i)] ? "y" : "x")
                << c.name << " sheet " << i;
        const bool any = c.changed[0] || c.changed[1] || c.changed[2];
        EXPECT_EQ(f.sink.lists.contains("Matched"), any) << c.name;
        EXPECT_EQ(f.sink.lists.contains("Unmatched"), !any) << c.name;
    }
}

TEST(RunSkeleton, FailedSaveGoesToTheFailedListAndIsNotCounted)
{
    Fixture f;
    writeMemoryWorkbook(f.path("locked.xlsx"), {{"Sheet1", {{"A1", "old"}}}}, "disk full");
    writeMemoryWorkbook(f.path("fine.xlsx"), {{"Sheet1", {{"A1", "old"}}}});
    f.replace("old", "new");

    const QString locked = QDir::toNativeSeparators(f.path("locked.xlsx"));
    EXPECT_EQ(f.sink.lists.value("OpenFailed"), locked + "\n");
    EXPECT_EQ(f.sink.lists.value("Matched"), QDir::toNativeSeparators(f.path("fine.xlsx")) + "\n");
    EXPECT_FALSE(f.sink.lists.contains("Unmatched"));
    EXPECT_TRUE(f.sink.events.contains("failed:" + locked + ":disk full"));
    const QStringList statuses = f.sink.only("status:");
    EXPECT_EQ(withoutSeconds(statuses.last()), "查找2个Excel文件,包含查找内容有1个Excel文件,耗时N秒。");
    EXPECT_EQ(readMemorySheet(f.path("locked.xlsx"), 0).value("A1").toString(), "old");
}

TEST(RunSkeleton, WorkbookWithAnUnreadablePartIsReportedAndNotSaved)
{
    Fixture f;
    writeMemoryWorkbook(f.path("broken.xlsx"), {{"Sheet1", {{"A1", "old"}}}}, {},
                        "damaged: xl/worksheets/sheet2.xml: CRC error");
    writeMemoryWorkbook(f.path("quiet.xlsx"), {{"Sheet1", {{"A1", "calm"}}}}, {}, "damaged: sheet2");
    writeMemoryWorkbook(f.path("fine.xlsx"), {{"Sheet1", {{"A1", "old"}}}});
    f.replace("old", "new");

    // Matched or not, a workbook that could not be read whole goes to the failed list.
    const QString broken = QDir::toNativeSeparators(f.path("broken.xlsx"));
    const QString quiet = QDir::toNativeSeparators(f.path("quiet.xlsx"));
    const QString failed = f.sink.lists.value("OpenFailed");
    EXPECT_TRUE(failed.contains(broken + "\n") && failed.contains(quiet + "\n")) << failed.toStdString();
    EXPECT_EQ(failed.count('\n'), 2);
    EXPECT_EQ(f.sink.lists.value("Matched"), QDir::toNativeSeparators(f.path("fine.xlsx")) + "\n");
    EXPECT_FALSE(f.sink.lists.contains("Unmatched"));
    EXPECT_TRUE(f.sink.events.contains("failed:" + broken + ":damaged: xl/worksheets/sheet2.xml: CRC error"));
    EXPECT_EQ(f.journal->saved.size(), 1);
    EXPECT_EQ(readMemorySheet(f.path("broken.xlsx"), 0).value("A1").toString(), "old");
    EXPECT_EQ(withoutSeconds(f.sink.only("status:").last()),
              "查找3个Excel文件,包含查找内容有1个Excel文件,耗时N秒。");
}

TEST(RunSkeleton, MissingServerEndsTheBusyStateWithoutSummaryOrLists)
{
    Fixture f;
    f.serverAvailable = false;
    writeMemoryWorkbook(f.path("w.xlsx"), {{"Sheet1", {{"A1", "old"}}}});
    EXPECT_EQ(f.replace("old", "new"), RunEnd::ServerMissing);
    EXPECT_EQ(f.sink.events,
              QStringList({"status:" + serverMissingMessage(), "server:test server switched off", "ended"}));
    EXPECT_EQ(f.journal->quits, 1);
    EXPECT_EQ(f.journal->destroyed, 1);
    EXPECT_TRUE(f.journal->opened.isEmpty());

    RecordingSink sink;
    FindReplaceOperation op({"a", "b", false});
    EXPECT_EQ(runOperation(
                  {f.dir.path(), false, false, {}}, [] { return nullptr; }, op, sink),
              RunEnd::ServerMissing);
    EXPECT_EQ(sink.events.last(), "ended");
}

namespace {

// An operation shaped like the cell jobs: start notes, prefixed progress, server quit last,
// and a chosen sheet that stops the workbook or the run.
class ScriptedOperation : public Operation
{
public:
    ScriptedOperation(ServerJournal& journal, QString endWorkbookOn, QString endRunOn)
        : m_journal(journal), m_endWorkbookOn(std::move(endWorkbookOn)), m_endRunOn(std::move(endRunOn))
    {
    }
    bool sendsStartNotes() const override { return true; }
    QString progressLine(const QString& path) const override { return QStringLiteral("正在修改：") + path; }
    bool quitsBeforeSummary() const override { return false; }
    void beginWorkbook() override {}
    AfterSheet workOnSheet(Sheet& sheet, RunSink& sink) override
    {
        visited.append(sheet.name());
        if (sheet.name() == m_endRunOn) {
            sink.status(QStringLiteral("stop"));
            return AfterSheet::EndRun;
        }
        return sheet.name() == m_endWorkbookOn ? AfterSheet::EndWorkbook : AfterSheet::NextSheet;
    }
    WorkbookOutcome endWorkbook() override { return {false, ResultList::Unmatched}; }
    void finishRun(const RunTotals& totals, RunSink& sink) override
    {
        quitsAtFinish = m_journal.quits;
        sink.status(QString::number(totals.opened));
        sink.runEnded();
    }

    QStringList visited;
    int quitsAtFinish = -1;

private:
    ServerJournal& m_journal;
    QString m_endWorkbookOn;
    QString m_endRunOn;
};

} // namespace

TEST(RunSkeleton, OperationShapesTheNotesTheProgressAndTheEndOrder)
{
    Fixture f;
    writeMemoryWorkbook(f.path("w.xlsx"), {{"one", {}}, {"two", {}}, {"three", {}}});
    ScriptedOperation op(*f.journal, "two", "");
    EXPECT_EQ(runOperation({f.dir.path(), false, false, {}}, f.factory(), op, f.sink), RunEnd::Completed);
    EXPECT_EQ(op.visited, QStringList({"one", "two"}));
    EXPECT_EQ(f.sink.only("status:"),
              QStringList({"excel OK!", "WorkBooks OK!",
                           "正在修改：" + QDir::toNativeSeparators(f.path("w.xlsx")), "1"}));
    EXPECT_EQ(op.quitsAtFinish, 0);
    EXPECT_EQ(f.journal->quits, 1);
}

TEST(RunSkeleton, OperationCanCutTheRunShort)
{
    Fixture f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"one", {}}, {"stop here", {}}, {"three", {}}});
    ScriptedOperation op(*f.journal, "", "stop here");
    EXPECT_EQ(runOperation({f.dir.path(), false, false, {}}, f.factory(), op, f.sink), RunEnd::CutShort);
    EXPECT_EQ(op.visited, QStringList({"one", "stop here"}));
    EXPECT_EQ(f.sink.events.last(), "ended");
    EXPECT_EQ(f.sink.events.at(f.sink.events.size() - 2), "status:stop");
    EXPECT_EQ(op.quitsAtFinish, -1);
    EXPECT_EQ(f.journal->closed.size(), 1);
    EXPECT_EQ(f.journal->quits, 1);
    EXPECT_TRUE(f.sink.lists.isEmpty());
}

namespace {

// The test server opening its workbooks beside each other, as the engine does, except .xls.
class ConcurrentMemoryServer : public MemoryServer
{
public:
    explicit ConcurrentMemoryServer(std::shared_ptr<ServerJournal> journal)
        : MemoryServer(journal), m_journal(std::move(journal))
    {
    }
    bool opensConcurrently() const override { return true; }
    ConcurrentOpen openConcurrently(const QString& path) override
    {
        ConcurrentOpen opened;
        // Like a file for the office: it is opened with open() on the run's thread.
        if (path.endsWith(QLatin1String(".xls"))) {
            opened.handOver = true;
            return opened;
        }
        m_journal->note(m_journal->opened, path);
        auto workbook = std::make_unique<MemoryWorkbook>(path, m_journal);
        if (workbook->load())
            opened.workbook = std::move(workbook);
        else
            opened.error = workbook->lastError();
        return opened;
    }

private:
    std::shared_ptr<ServerJournal> m_journal;
};

// Saves every workbook, except that a sheet named "stop" ends the run. That sheet first waits
// (a while at most) until `othersOpen` more workbooks are open, so that they are ready to be
// saved by the time the run ends.
class CuttingOperation : public Operation
{
public:
    CuttingOperation(std::shared_ptr<ServerJournal> journal, int othersOpen)
        : m_journal(std::move(journal)), m_othersOpen(othersOpen)
    {
    }
    void beginWorkbook() override {}
    AfterSheet workOnSheet(Sheet& sheet, RunSink& sink) override
    {
        if (sheet.name() != QLatin1String("stop"))
            return AfterSheet::NextSheet;
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_journal->mutex);
                if (m_journal->opened.size() > m_othersOpen)
                    break;
            }
            QThread::msleep(5);
        }
        sink.status(QStringLiteral("stop"));
        return AfterSheet::EndRun;
    }
    WorkbookOutcome endWorkbook() override { return {true, ResultList::Matched}; }
    void finishRun(const RunTotals&, RunSink& sink) override { sink.runEnded(); }
    std::unique_ptr<Operation> workbookCopy() const override
    {
        return std::make_unique<CuttingOperation>(m_journal, m_othersOpen);
    }

private:
    std::shared_ptr<ServerJournal> m_journal;
    int m_othersOpen;
};

} // namespace

// Workbooks taken up beside the one that cuts the run short come after it in walk order: a run
// one workbook at a time would never have touched them, so none of them may be saved. The one
// that cuts it is worked on by a worker, or (.xls) handed over to the run's thread.
class CutBesideOthers : public testing::TestWithParam<const char*>
{
};

TEST_P(CutBesideOthers, WorkbooksAfterTheCutAreNotSaved)
{
    QStringList events[2];
    for (const int jobs : {1, 4}) {
        Fixture f;
        // The walk takes a folder's own files before its subfolders.
        writeMemoryWorkbook(f.path(GetParam()), {{"one", {}}, {"stop", {}}});
        ASSERT_TRUE(QDir(f.dir.path()).mkdir("later"));
        for (int i = 0; i < 6; ++i)
            writeMemoryWorkbook(f.path(QStringLiteral("later/b%1.xlsx").arg(i)), {{"one", {}}});
        CuttingOperation op(f.journal, jobs - 1);
        RunSettings settings;
        settings.sourcePath = f.dir.path();
        settings.jobs = jobs;
        const ServerFactory factory = [&f] { return std::make_unique<ConcurrentMemoryServer>(f.journal); };
        EXPECT_EQ(runOperation(settings, factory, op, f.sink), RunEnd::CutShort);
        EXPECT_TRUE(f.journal->saved.isEmpty()) << f.journal->saved.join(' ').toStdString();
        EXPECT_EQ(f.journal->opened.size(), jobs);
        EXPECT_EQ(f.journal->closed.size(), jobs);
        events[jobs > 1] = f.sink.events.replaceInStrings(QDir::toNativeSeparators(f.dir.path()), "DIR");
    }
    EXPECT_EQ(events[1], events[0]);
}

INSTANTIATE_TEST_SUITE_P(RunSkeleton, CutBesideOthers, testing::Values("a.xlsx", "a.xls"));
