// corvane-cli remove-sheet in-process over the in-memory test server.
#include "clitest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testsupport;

namespace {

struct RemoveSheetRun : CliFolder
{
    QString out, err;
    int status = -1;

    QString folder() const { return dir.path() + '/'; }
    QString native(const QString& name) const { return QDir::toNativeSeparators(folder() + name); }
    void book(const QString& name, const QStringList& sheets)
    {
        std::vector<std::pair<QString, SheetCells>> content;
        for (const QString& s : sheets)
            content.push_back({s, {{"A1", s}}});
        writeMemoryWorkbook(folder() + name, content);
    }
    void run(const QStringList& options)
    {
        QTextStream o(&out);
        QTextStream e(&err);
        status = cli::runCommandLine(QStringList{"remove-sheet", "--folder", folder()} + options, o, e);
    }
    QStringList sheets(const QString& name) const
    {
        QFile f(folder() + name);
        QStringList names;
        if (f.open(QIODevice::ReadOnly)) {
            for (const QJsonValue& s : QJsonDocument::fromJson(f.readAll()).object()["sheets"].toArray())
                names << s.toObject()["name"].toString();
        }
        return names;
    }
    QString list(const QString& fileName) const
    {
        QFile f(folder() + fileName);
        // The lists are written with Windows line ends.
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()).replace("\r\n", "\n")
                                           : QString();
    }
};

const QString kMatchedList = QStringLiteral("包含内容并成功修改的文件目录.txt");
const QString kUnmatchedList = QStringLiteral("不包含内容无修改的文件目录.txt");

} // namespace

TEST(CliRemoveSheet, DeletesTheNamedSheetAndReportsBothSummaries)
{
    RemoveSheetRun r;
    r.book("a.xlsx", {"Sheet1", "Data", "Data2"});
    r.book("b.xlsx", {"data", "Sheet1"});
    r.book("c.xlsx", {"Data", "X"});
    r.run({"--sheet", "Data"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.sheets("a.xlsx"), (QStringList{"Sheet1", "Data2"}));
    EXPECT_EQ(r.sheets("b.xlsx"), (QStringList{"data", "Sheet1"}));
    EXPECT_EQ(r.sheets("c.xlsx"), QStringList{"X"});
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines.at(lines.size() - 2).startsWith(QStringLiteral("查找修改2个Excel文件,耗时")));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("查找3个Excel文件,删除2个Sheet,耗时")));
    const QStringList matched = r.list(kMatchedList).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(QSet<QString>(matched.begin(), matched.end()),
              (QSet<QString>{r.native("a.xlsx"), r.native("c.xlsx")}));
    EXPECT_FALSE(QFile::exists(r.folder() + kUnmatchedList));
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
}

TEST(CliRemoveSheet, SheetOptionsPickAsTheWindowDoes)
{
    {
        RemoveSheetRun r;
        r.book("a.xlsx", {"One", "Two"});
        r.run({});
        EXPECT_EQ(r.sheets("a.xlsx"), QStringList{"Two"});
    }
    {
        RemoveSheetRun r;
        r.book("a.xlsx", {"Sheet1", "Data"});
        r.run({"--first-sheet", "--sheet", "Data"});
        EXPECT_EQ(r.sheets("a.xlsx"), (QStringList{"Sheet1", "Data"}));
        EXPECT_TRUE(r.out.trimmed().endsWith(QStringLiteral("秒。")));
        EXPECT_TRUE(r.out.split('\n', Qt::SkipEmptyParts).last().startsWith(QStringLiteral("查找修改0个")));
    }
    {
        RemoveSheetRun r;
        r.book("a.xlsx", {"Sheet1", "Data"});
        r.run({"--sheet", ""});
        EXPECT_EQ(r.sheets("a.xlsx"), (QStringList{"Sheet1", "Data"}));
        EXPECT_EQ(r.journal->saved.size(), 1);
    }
}

TEST(CliRemoveSheet, ARefusedDeletionIsPrintedAndNotCounted)
{
    RemoveSheetRun r;
    r.book("solo.xlsx", {"Only"});
    r.book("pair.xlsx", {"A", "B"});
    r.run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, r.native("solo.xlsx") + ": a workbook must keep at least one visible sheet\n");
    EXPECT_EQ(r.sheets("solo.xlsx"), QStringList{"Only"});
    EXPECT_EQ(r.list(kMatchedList), r.native("pair.xlsx") + '\n');
    EXPECT_EQ(r.list(QStringLiteral("无法打开修改的文件目录(文件格式有误).txt")), r.native("solo.xlsx") + '\n');
    EXPECT_TRUE(r.out.split('\n', Qt::SkipEmptyParts)
                    .last()
                    .startsWith(QStringLiteral("查找2个Excel文件,删除1个Sheet,")));
}

TEST(CliRemoveSheet, AMissingFolderIsRefused)
{
    RemoveSheetRun r;
    QTextStream o(&r.out);
    QTextStream e(&r.err);
    const int status = cli::runCommandLine({"remove-sheet", "--folder", r.folder() + "nowhere/"}, o, e);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(r.err, QStringLiteral("文件夹不存在,请选择正确路径!\n"));
    EXPECT_TRUE(r.journal->opened.isEmpty());
}
