// Find and replace's own rules over the in-memory test server.
#include "automation/automationserver.h"
#include "operations/findreplace.h"
#include "run/runskeleton.h"
#include "automation/workbook.h"
#include "tests/support/memoryserver.h"
#include "tests/support/recordingsink.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::automation;
using namespace corvane::testsupport;

namespace {

struct ReplaceRun
{
    QTemporaryDir dir;
    std::shared_ptr<ServerJournal> journal = std::make_shared<ServerJournal>();
    RecordingSink sink;

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    void replace(const QString& find, const QString& with, bool justShow = false, bool onlyFirst = false)
    {
        FindReplaceOperation op({find, with, justShow});
        runOperation(
            {dir.path(), onlyFirst, false, {}}, [this] { return std::make_unique<MemoryServer>(journal); },
            op, sink);
    }
    QString cell(const QString& file, int sheet, const QString& address) const
    {
        return readMemorySheet(path(file), sheet).value(address).toString();
    }
};

} // namespace

TEST(FindReplace, ReplacesOnEveryVisitedSheetAndSavesOnce)
{
    ReplaceRun r;
    // The first match is on the second sheet; the third sheet holds more.
    writeMemoryWorkbook(r.path("w.xlsx"), {{"S1", {{"A1", "keep"}}},
                                           {"S2", {{"C3", "Total: Old"}, {"D4", "=\"old\"&A1"}}},
                                           {"S3", {{"A1", "old old"}, {"A2", "OLDER"}}}});
    r.replace("old", "new");
    EXPECT_EQ(r.cell("w.xlsx", 0, "A1"), "keep");
    EXPECT_EQ(r.cell("w.xlsx", 1, "C3"), "Total: new");
    EXPECT_EQ(r.cell("w.xlsx", 1, "D4"), "=\"new\"&A1");
    EXPECT_EQ(r.cell("w.xlsx", 2, "A1"), "new new");
    EXPECT_EQ(r.cell("w.xlsx", 2, "A2"), "newER");
    EXPECT_EQ(r.journal->saved.size(), 1);
}

TEST(FindReplace, TextOnlyOnUnvisitedSheetsLeavesTheWorkbookUnmatchedAndUnsaved)
{
    ReplaceRun r;
    writeMemoryWorkbook(r.path("w.xlsx"), {{"S1", {{"A1", "plain"}}}, {"S2", {{"A1", "target"}}}});
    r.replace("target", "x", false, true);
    EXPECT_TRUE(r.journal->saved.isEmpty());
    EXPECT_EQ(r.cell("w.xlsx", 1, "A1"), "target");
    EXPECT_TRUE(r.sink.lists.contains("Unmatched"));
    EXPECT_FALSE(r.sink.lists.contains("Matched"));
}

TEST(FindReplace, ListOnlyChangesNothingButListsAndSummarisesLikeAReplace)
{
    ReplaceRun r;
    writeMemoryWorkbook(r.path("a.xlsx"), {{"S1", {{"A1", "needle"}}}});
    writeMemoryWorkbook(r.path("b.xlsx"), {{"S1", {{"A1", "hay"}}}});
    r.replace("needle", "pin", true);
    EXPECT_TRUE(r.journal->saved.isEmpty());
    EXPECT_EQ(r.cell("a.xlsx", 0, "A1"), "needle");
    EXPECT_TRUE(r.sink.lists.value("Matched").endsWith("a.xlsx\n"));
    const QStringList statuses = r.sink.only("status:");
    EXPECT_TRUE(statuses.last().startsWith("查找2个Excel文件,包含查找内容有1个Excel文件,耗时"));
}

TEST(FindReplace, EmptyFindTextRunsAndChangesNothingEmptyReplacementRemoves)
{
    ReplaceRun r;
    writeMemoryWorkbook(r.path("w.xlsx"), {{"S1", {{"A1", "a-b-c"}}}});
    // The empty text goes to the server as it is; the server matches nothing with it.
    r.replace("", "zzz");
    EXPECT_TRUE(r.journal->saved.isEmpty());
    EXPECT_TRUE(r.sink.lists.contains("Unmatched"));

    ReplaceRun r2;
    writeMemoryWorkbook(r2.path("w.xlsx"), {{"S1", {{"A1", "a-b-c"}}}});
    r2.replace("-", "");
    EXPECT_EQ(r2.cell("w.xlsx", 0, "A1"), "abc");
}

TEST(FindReplace, ChartSheetsArePassedOver)
{
    ReplaceRun r;
    QFile f(r.path("w.xlsx"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"sheets":[{"name":"Chart1","chart":true},{"name":"S","cells":{"A1":"old"}}]})");
    f.close();
    r.replace("old", "new");
    EXPECT_EQ(r.cell("w.xlsx", 1, "A1"), "new");
    EXPECT_TRUE(r.sink.lists.contains("Matched"));
}

TEST(FindReplace, SummaryTexts)
{
    EXPECT_EQ(replaceSummary(2, 15), QStringLiteral("查找修改2个Excel文件,耗时15秒。"));
    EXPECT_EQ(replaceMatchedSummary(3, 2, 15),
              QStringLiteral("查找3个Excel文件,包含查找内容有2个Excel文件,耗时15秒。"));
    EXPECT_EQ(replaceSummary(12345, 0), QStringLiteral("查找修改12345个Excel文件,耗时0秒。"));
}

namespace {

// The memory server's workbooks with a rename that records its calls and refuses the names it is
// told to, as a server refuses a duplicate or invalid name.
class RenamingWorkbook : public Workbook
{
public:
    RenamingWorkbook(std::unique_ptr<Workbook> inner, QStringList* calls, QStringList refused)
        : m_inner(std::move(inner)), m_calls(calls), m_refused(std::move(refused))
    {
    }
    int sheetCount() override { return m_inner->sheetCount(); }
    Sheet* sheet(int index) override { return m_inner->sheet(index); }
    bool deleteSheet(int index) override { return m_inner->deleteSheet(index); }
    bool renameSheet(int index, const QString& name) override
    {
        m_calls->append(QStringLiteral("%1:%2").arg(index).arg(name));
        if (m_refused.contains(name)) {
            m_error = QStringLiteral("a sheet named \"%1\" exists").arg(name);
            return false;
        }
        return true;
    }
    bool save() override { return m_inner->save(); }
    void close() override { m_inner->close(); }
    QString lastError() const override { return m_error.isEmpty() ? m_inner->lastError() : m_error; }
    QString damage() const override { return m_inner->damage(); }

private:
    std::unique_ptr<Workbook> m_inner;
    QStringList* m_calls;
    QStringList m_refused;
    QString m_error;
};

class RenamingServer : public AutomationServer
{
public:
    RenamingServer(std::shared_ptr<ServerJournal> journal, QStringList* calls, QStringList refused)
        : m_inner(std::move(journal)), m_calls(calls), m_refused(std::move(refused))
    {
    }
    bool isAvailable() override { return m_inner.isAvailable(); }
    std::unique_ptr<Workbook> open(const QString& path) override
    {
        std::unique_ptr<Workbook> inner = m_inner.open(path);
        if (!inner)
            return nullptr;
        return std::make_unique<RenamingWorkbook>(std::move(inner), m_calls, m_refused);
    }
    void quit() override { m_inner.quit(); }
    QString lastError() const override { return m_inner.lastError(); }

private:
    MemoryServer m_inner;
    QStringList* m_calls;
    QStringList m_refused;
};

struct RenameCase
{
    const char* find;
    const char* replacement;
    bool listOnly;
    bool onlyFirstSheet;
    const char* appointed; // null: every sheet
    QStringList refused;
    QStringList calls; // index:new name, in order
    const char* list;  // the list the workbook lands on
    bool refusalReported;
};

class SheetNames : public testing::TestWithParam<RenameCase>
{
};

} // namespace

TEST_P(SheetNames, SelectedSheetsWhoseNameHoldsTheTextAreRenamed)
{
    const RenameCase& c = GetParam();
    ReplaceRun r;
    writeMemoryWorkbook(r.path("w.xlsx"),
                        {{"Old data", {{"A1", "x"}}}, {"Summary", {{"A1", "y"}}}, {"OLD", {}}});
    QStringList calls;
    ReplacePlaces places;
    places.set(ReplacePlace::SheetNames);
    FindReplaceOperation op(
        {QString::fromUtf8(c.find), QString::fromUtf8(c.replacement), c.listOnly, places});
    runOperation(
        {r.dir.path(), c.onlyFirstSheet, c.appointed != nullptr, QString::fromUtf8(c.appointed)},
        [&] { return std::make_unique<RenamingServer>(r.journal, &calls, c.refused); }, op, r.sink);
    EXPECT_EQ(calls, c.calls);
    EXPECT_TRUE(r.sink.lists.contains(QString::fromLatin1(c.list)))
        << r.sink.lists.keys().join(',').toStdString();
    const QStringList failed = r.sink.only("failed:");
    EXPECT_EQ(!failed.isEmpty(), c.refusalReported) << failed.join('\n').toStdString();
    if (c.refusalReported) {
        EXPECT_TRUE(failed.first().endsWith("exists")) << failed.first().toStdString();
    }
    // Only a workbook that was changed is saved.
    EXPECT_EQ(r.journal->saved.size(), QString::fromLatin1(c.list) == "Matched" && !c.listOnly ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SheetNames,
    testing::Values(
        // Letter case ignored, every selected sheet, each name computed on its own.
        RenameCase{"old", "New", false, false, nullptr, {}, {"1:New data", "3:New"}, "Matched", false},
        // Wildcards as in cells.
        RenameCase{"o?d*", "Z", false, false, nullptr, {}, {"1:Z", "3:Z"}, "Matched", false},
        // A refusal is reported; the other rename still counts, so the workbook is saved.
        RenameCase{"old", "New", false, false, nullptr, {"New"}, {"1:New data", "3:New"}, "Matched", true},
        // Every change refused: nothing was done as asked.
        RenameCase{"summary", "New", false, false, nullptr, {"New"}, {"2:New"}, "OpenFailed", true},
        // Listing finds a workbook whose only hit is a sheet name, and renames nothing.
        RenameCase{"summ", "x", true, false, nullptr, {}, {}, "Matched", false},
        // The sheet choice holds for names too.
        RenameCase{"old", "New", false, true, nullptr, {}, {"1:New data"}, "Matched", false},
        RenameCase{"old", "New", false, false, "OLD", {}, {"3:New"}, "Matched", false},
        RenameCase{"absent", "x", false, false, nullptr, {}, {}, "Unmatched", false}));
