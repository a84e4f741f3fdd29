// corvane-cli in-process over the in-memory test server: output streams, exit statuses,
// the options it fills, and the parser's refusals.
#include "clitest.h"
#include "jobs/joboptions.h"
#include "jobs/resultlists.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testsupport;

namespace {

using Folder = CliFolder;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(Cli, ReplacePrintsTheWindowsStatusLinesAndWritesTheLists)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"Sheet1", {{"A1", "old"}}}});
    writeMemoryWorkbook(f.path("b.xlsx"), {{"Sheet1", {{"A1", "other"}}}});
    writeMemoryWorkbook(f.path("c.xlsx"), {{"Sheet1", {{"A1", "old"}}}}, "disk full");
    QFile broken(f.path("d.xls"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("\xD0\xCF\x11\xE0 legacy");
    broken.close();

    Cli run({"replace", "--folder", f.path(), "--find", "OLD", "--replace", "new"});
    EXPECT_EQ(run.status, 0);
    const QStringList lines = run.outLines();
    ASSERT_EQ(lines.size(), 6);
    QStringList progress = lines.mid(0, 4);
    progress.sort();
    EXPECT_EQ(progress, QStringList({f.path("a.xlsx"), f.path("b.xlsx"), f.path("c.xlsx"), f.path("d.xls")}));
    EXPECT_TRUE(lines[4].startsWith(QStringLiteral("查找修改1个Excel文件,耗时")));
    // The last line is the final summary.
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("查找3个Excel文件,包含查找内容有1个Excel文件,耗时")));

    QStringList errors = run.err.split('\n', Qt::SkipEmptyParts);
    errors.sort();
    EXPECT_EQ(errors, QStringList({f.path("c.xlsx") + ": disk full", f.path("d.xls") + ": not a workbook"}));

    EXPECT_EQ(readAll(f.path(jobs::matchedListName())), QFile::encodeName(f.path("a.xlsx")) + "\r\n");
    EXPECT_EQ(readAll(f.path(jobs::unmatchedListName())), QFile::encodeName(f.path("b.xlsx")) + "\r\n");
    EXPECT_TRUE(QString::fromLocal8Bit(readAll(f.path(jobs::openFailedListName()))).contains("c.xlsx\r\n"));
    EXPECT_EQ(readMemorySheet(f.path("a.xlsx"), 0).value("A1").toString(), "new");
}

TEST(Cli, OptionsReachTheJobAndListsOpenOnlyWhenAsked)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"One", {{"A1", "x"}}}, {"Two", {{"A1", "x"}}}});

    Cli listOnly(
        {"replace", "--folder", f.path(), "--find", "x", "--list-only", "--sheet", "Two", "--jobs", "3"});
    EXPECT_EQ(listOnly.status, 0);
    const jobs::JobOptions& o = jobs::jobOptions();
    EXPECT_EQ(o.jobs, 3);
    EXPECT_TRUE(o.justShow);
    EXPECT_TRUE(o.appointedSheet);
    EXPECT_EQ(o.appointedSheetName, "Two");
    EXPECT_FALSE(o.onlyFirstSheet);
    EXPECT_FALSE(o.openLists);
    EXPECT_TRUE(f.journal->saved.isEmpty());

    Cli firstSheet(
        {"replace", "--folder=" + f.path(), "--find=x", "--replace=", "--first-sheet", "--open-lists"});
    EXPECT_EQ(firstSheet.status, 0);
    EXPECT_EQ(o.jobs, 0); // one per core, not what the run before asked for
    EXPECT_TRUE(o.onlyFirstSheet);
    EXPECT_FALSE(o.appointedSheet);
    EXPECT_TRUE(o.openLists);
    EXPECT_EQ(o.replaceText, QString());
    EXPECT_EQ(readMemorySheet(f.path("a.xlsx"), 0).value("A1").toString(), "");
    EXPECT_EQ(readMemorySheet(f.path("a.xlsx"), 1).value("A1").toString(), "x");

    // A value is taken as it stands, even when it looks like an option.
    Cli dashes({"replace", "--folder", f.path(), "--find", "--first-sheet", "--replace", "y"});
    EXPECT_EQ(dashes.status, 0);
    EXPECT_EQ(o.findText, "--first-sheet");
    EXPECT_FALSE(o.onlyFirstSheet);
}

TEST(Cli, RefusalsAndMissingServerExitWithOne)
{
    Folder f;
    // The lists of the refused folder are deleted before the folder test, as in the window.
    const QString gone = f.path("gone");
    QFile stale(gone + jobs::matchedListName());
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    Cli refused({"replace", "--folder", gone, "--find", "a", "--replace", "b"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, QStringLiteral("文件夹不存在,请选择正确路径!\n"));
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_FALSE(QFile::exists(gone + jobs::matchedListName()));

    f.available = false;
    Cli noServer({"replace", "--folder", f.path(), "--find", "a", "--replace", "b"});
    EXPECT_EQ(noServer.status, 1);
    EXPECT_EQ(noServer.outLines().last(), corvane::automation::serverMissingMessage());
    EXPECT_EQ(noServer.err, QStringLiteral("test server switched off\n"));
}

// A list in the place of which a folder stands cannot be written, whoever runs the test.
TEST(Cli, AResultListThatCannotBeWrittenIsReportedAndExitsWithOne)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"Sheet1", {{"A1", "old"}}}});
    writeMemoryWorkbook(f.path("b.xlsx"), {{"Sheet1", {{"A1", "other"}}}});
    ASSERT_TRUE(QDir(f.path()).mkdir(jobs::matchedListName()));

    Cli run({"replace", "--folder", f.path(), "--find", "old", "--replace", "new"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.startsWith(f.path(jobs::matchedListName()) + ": ")) << run.err.toStdString();
    // The summary that comes after the failure still says so.
    EXPECT_TRUE(
        run.outLines().last().endsWith(QStringLiteral("结果列表写入失败:") + f.path(jobs::matchedListName())))
        << run.out.toStdString();
    EXPECT_EQ(readAll(f.path(jobs::unmatchedListName())), QFile::encodeName(f.path("b.xlsx")) + "\r\n");
    EXPECT_EQ(readMemorySheet(f.path("a.xlsx"), 0).value("A1").toString(), "new");
}

TEST(Cli, UsageErrorsExitWithTwo)
{
    Folder f;
    const QString dir = f.path();
    const QList<QStringList> wrong = {
        {},
        {"frobnicate"},
        {"replace", "--folder", dir, "--find", "a", "--replace", "b", "--bogus"},
        {"replace", "--folder", dir, "--find"},
        {"replace", "--folder", dir, "--replace", "b"},
        {"replace", "--folder", dir, "--find", "a"},
        {"replace", "--find", "a", "--replace", "b"},
        {"replace", "--folder", dir, "--find", "a", "--list-only=yes"},
        {"replace", "--folder", dir, "--find", "a", "--replace", "b", "stray"},
        {"replace", "--folder", dir, "--find", "a", "--replace", "b", "--also", "comments,notes"},
        {"replace", "--folder", dir, "--find", "a", "--replace", "b", "--also", "comments,,links"},
        {"replace", "--folder", dir, "--find", "a", "--replace", "b", "--also", "Headers"},
        {"replace", "--folder", dir, "--find", "a", "--list-only", "--jobs", "0"},
        {"remove-sheet", "--folder", dir, "--jobs", "two"},
    };
    for (const QStringList& args : wrong) {
        Cli run(args);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith("corvane-cli: ")) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_TRUE(f.journal->opened.isEmpty());
    EXPECT_EQ(f.journal->serversMade, 0);

    Cli help({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("replace"));
    Cli commandHelp({"replace", "--help"});
    EXPECT_EQ(commandHelp.status, 0);
    EXPECT_TRUE(commandHelp.out.contains("--list-only"));
}
