// Sheet removal's pick, counts, save rule, summaries and lists over the in-memory test server.
#include "run/runskeleton.h"
#include "operations/sheetremoval.h"
#include "tests/support/memoryserver.h"
#include "tests/support/recordingsink.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::automation;
using namespace corvane::testsupport;

namespace {

struct RemovalRun
{
    QTemporaryDir dir;
    std::shared_ptr<ServerJournal> journal = std::make_shared<ServerJournal>();
    RecordingSink sink;

    QString path(const QString& name) const { return QDir::toNativeSeparators(dir.path() + '/' + name); }
    void book(const QString& name, const QStringList& sheets)
    {
        std::vector<std::pair<QString, SheetCells>> content;
        for (const QString& s : sheets)
            content.push_back({s, {{"A1", s + " data"}}});
        writeMemoryWorkbook(dir.path() + '/' + name, content);
    }
    void remove(bool onlyFirst, bool appointed, const QString& name = {})
    {
        SheetRemovalOperation op;
        runOperation(
            {dir.path(), onlyFirst, appointed, name},
            [this] { return std::make_unique<MemoryServer>(journal); }, op, sink);
    }
    QStringList sheetNames(const QString& name) const
    {
        QFile f(dir.path() + '/' + name);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList names;
        for (const QJsonValue& s : QJsonDocument::fromJson(f.readAll()).object().value("sheets").toArray())
            names << s.toObject().value("name").toString();
        return names;
    }
};

} // namespace

TEST(SheetRemoval, WithoutANameTheFirstSheetGoesWhateverOnlyFirstSays)
{
    for (const bool onlyFirst : {false, true}) {
        RemovalRun r;
        r.book("a.xlsx", {"One", "Two", "Three"});
        r.remove(onlyFirst, false);
        EXPECT_EQ(r.sheetNames("a.xlsx"), (QStringList{"Two", "Three"})) << onlyFirst;
        EXPECT_EQ(r.sink.lists.value("Matched"), r.path("a.xlsx") + '\n');
    }
}

TEST(SheetRemoval, TheAppointedNameMustMatchExactly)
{
    RemovalRun r;
    r.book("a.xlsx", {"Sheet1", "Data", "Data2"});
    r.book("b.xlsx", {"data", "Sheet1"});
    r.book("c.xlsx", {"Data ", "Sheet1"});
    r.remove(false, true, "Data");
    EXPECT_EQ(r.sheetNames("a.xlsx"), (QStringList{"Sheet1", "Data2"}));
    EXPECT_EQ(r.sheetNames("b.xlsx"), (QStringList{"data", "Sheet1"}));
    EXPECT_EQ(r.sheetNames("c.xlsx"), (QStringList{"Data ", "Sheet1"}));
    // Unmatched workbooks are still saved, but never listed.
    EXPECT_EQ(r.journal->saved.size(), 3);
    EXPECT_EQ(r.sink.lists.value("Matched"), r.path("a.xlsx") + '\n');
    EXPECT_FALSE(r.sink.lists.contains("Unmatched"));
}

TEST(SheetRemoval, AnEmptyNameMatchesNoSheet)
{
    RemovalRun r;
    r.book("a.xlsx", {"Sheet1", "Sheet2"});
    r.remove(false, true, "");
    EXPECT_EQ(r.sheetNames("a.xlsx"), (QStringList{"Sheet1", "Sheet2"}));
    EXPECT_EQ(r.journal->saved.size(), 1);
    const QStringList statuses = r.sink.only("status:");
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_TRUE(statuses.last().startsWith(QStringLiteral("查找修改0个Excel文件,耗时")));
    EXPECT_TRUE(r.sink.lists.isEmpty());
}

TEST(SheetRemoval, WithBothOptionsOnlySheetOneIsCompared)
{
    RemovalRun r;
    r.book("a.xlsx", {"Sheet1", "Data"});
    r.book("b.xlsx", {"Data", "Sheet2"});
    r.remove(true, true, "Data");
    EXPECT_EQ(r.sheetNames("a.xlsx"), (QStringList{"Sheet1", "Data"}));
    EXPECT_EQ(r.sheetNames("b.xlsx"), (QStringList{"Sheet2"}));
}

TEST(SheetRemoval, SummariesAndListsCountOpenedAndDeleted)
{
    RemovalRun r;
    r.book("a.xlsx", {"Data", "X"});
    r.book("b.xlsx", {"X", "Y"});
    r.book("c.xlsx", {"X", "Data"});
    QFile broken(r.dir.path() + "/d.xlsx");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a workbook");
    broken.close();
    r.remove(false, true, "Data");

    const QStringList statuses = r.sink.only("status:");
    ASSERT_GE(statuses.size(), 2);
    EXPECT_TRUE(statuses.at(statuses.size() - 2).startsWith(QStringLiteral("查找修改2个Excel文件,耗时")));
    EXPECT_TRUE(statuses.last().startsWith(QStringLiteral("查找3个Excel文件,删除2个Sheet,耗时")));
    EXPECT_TRUE(statuses.last().endsWith(QStringLiteral("秒。")));
    const QStringList matched = r.sink.lists.value("Matched").split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(QSet<QString>(matched.begin(), matched.end()),
              (QSet<QString>{r.path("a.xlsx"), r.path("c.xlsx")}));
    EXPECT_EQ(r.sink.lists.value("OpenFailed"), r.path("d.xlsx") + '\n');
    // The end of the run: summary, end of busy state, then the lists.
    const int ended = int(r.sink.events.indexOf("ended"));
    EXPECT_LT(ended, int(r.sink.events.indexOf("list:OpenFailed")));
    EXPECT_LT(int(r.sink.events.indexOf("list:OpenFailed")), int(r.sink.events.indexOf("list:Matched")));
    EXPECT_EQ(r.journal->quits, 1);
}

TEST(SheetRemoval, NoMatchKeepsTheFirstSummaryAndWritesNoList)
{
    RemovalRun r;
    r.book("a.xlsx", {"X"});
    r.remove(false, true, "Data");
    EXPECT_TRUE(r.sink.only("status:").last().startsWith(QStringLiteral("查找修改0个Excel文件,")));
    EXPECT_TRUE(r.sink.lists.isEmpty());
}

TEST(SheetRemoval, ARefusedDeletionIsReportedNotCountedAndNotSaved)
{
    RemovalRun r;
    r.book("only.xlsx", {"Solo"});
    r.book("two.xlsx", {"A", "B"});
    // The only visible sheet may not go; a hidden one may.
    QJsonArray sheets{QJsonObject{{"name", "Shown"}}, QJsonObject{{"name", "Old"}, {"hidden", true}}};
    QFile f(r.dir.path() + "/hidden.xlsx");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(QJsonObject{{"sheets", sheets}}).toJson());
    f.close();
    r.remove(false, false);

    EXPECT_EQ(r.sheetNames("only.xlsx"), QStringList{"Solo"});
    EXPECT_EQ(r.sheetNames("two.xlsx"), QStringList{"B"});
    EXPECT_EQ(r.sheetNames("hidden.xlsx"), (QStringList{"Shown", "Old"}));
    EXPECT_FALSE(r.journal->saved.contains(r.path("only.xlsx")));
    EXPECT_FALSE(r.journal->saved.contains(r.path("hidden.xlsx")));
    EXPECT_EQ(r.sink.only("failed:").size(), 2);
    EXPECT_TRUE(r.sink.only("failed:").contains(r.path("only.xlsx") +
                                                ":a workbook must keep at least one visible sheet"));
    EXPECT_EQ(r.sink.lists.value("Matched"), r.path("two.xlsx") + '\n');
    const QStringList refused = r.sink.lists.value("OpenFailed").split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(QSet<QString>(refused.begin(), refused.end()),
              (QSet<QString>{r.path("only.xlsx"), r.path("hidden.xlsx")}));
    EXPECT_TRUE(r.sink.only("status:").last().startsWith(QStringLiteral("查找3个Excel文件,删除1个Sheet,")));
}

TEST(SheetRemoval, AHiddenSheetCanBeDeletedWhileAVisibleOneStays)
{
    RemovalRun r;
    QJsonArray sheets{QJsonObject{{"name", "Old"}, {"hidden", true}}, QJsonObject{{"name", "Shown"}}};
    QFile f(r.dir.path() + "/h.xlsx");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(QJsonObject{{"sheets", sheets}}).toJson());
    f.close();
    r.remove(false, false);
    EXPECT_EQ(r.sheetNames("h.xlsx"), QStringList{"Shown"});
}
