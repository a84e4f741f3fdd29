// Find and replace's own rules over the in-memory test server.
#include "automation/findreplace.h"
#include "automation/runskeleton.h"
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
