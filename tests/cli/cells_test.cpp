// corvane-cli cells in-process over the in-memory test server: output, lists, exit statuses,
// the options it fills, the launch's refusals and the parser's.
#include "run/runskeleton.h"
#include "clitest.h"
#include "jobs/joboptions.h"
#include "jobs/resultlists.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::testsupport;

namespace {

struct Folder : CliFolder
{
    QString cell(const QString& file, int sheet, const QString& address) const
    {
        return readMemorySheet(path(file), sheet).value(address).toString();
    }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void touch(const QString& path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("old run\r\n");
}

} // namespace

TEST(CliCells, FillTextPrintsTheWindowsLinesAndWritesTheLists)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"S1", {{"A1", "head"}, {"B2", "Total"}}}});
    writeMemoryWorkbook(f.path("b.xlsx"), {{"S1", {{"A1", "nothing"}}}});

    Cli run({"cells", "--folder", f.path(), "--mode", "fill-text", "--text", "100", "--find", "total",
             "--right", "2", "--left", "1", "--up", "4"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.isEmpty());
    const QStringList lines = run.outLines();
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[0], "excel OK!");
    EXPECT_EQ(lines[1], "WorkBooks OK!");
    EXPECT_TRUE(lines.contains("正在修改：" + QDir::toNativeSeparators(f.path("a.xlsx"))));
    EXPECT_TRUE(lines.contains(QStringLiteral("Sheet:S1,识别出 3行,3列。(如超出实际,请进行提速设置)")));
    EXPECT_TRUE(
        lines[6].startsWith(QStringLiteral("成功查找2个Excel文件,修改1个Excel文件,修改1个单元格。耗时")));
    // Up 4 from row 2 is raised to row 1; right 2 minus left 1 is one column.
    EXPECT_EQ(f.cell("a.xlsx", 0, "C1"), "100");
    EXPECT_EQ(f.cell("a.xlsx", 0, "B2"), "Total");
    EXPECT_EQ(readAll(f.path(jobs::matchedListName())), QFile::encodeName(f.path("a.xlsx")) + "\r\n");
    EXPECT_EQ(readAll(f.path(jobs::unmatchedListName())), QFile::encodeName(f.path("b.xlsx")) + "\r\n");

    const jobs::JobOptions& o = jobs::jobOptions();
    EXPECT_FALSE(o.fillTextMode); // cleared at the end of the run
    EXPECT_EQ(o.cellRight - o.cellLeft, 1);
    EXPECT_EQ(o.cellDown - o.cellUp, -4);
}

TEST(CliCells, AppointedCellsWithOncePerWorkbookAndEveryChangedWorkbookLeavesTheMatchedListOut)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"S1", {{"B3", "ab"}}}, {"S2", {{"B3", "ab"}}}});
    Cli run({"cells", "--folder", f.path(), "--mode", "change-text", "--text", "Z", "--cells", " B3，,D5 ",
             "--once-per-workbook"});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.outLines().last().startsWith(
        QStringLiteral("成功查找1个Excel文件,修改1个Excel文件,修改2个单元格。")));
    // The text is trimmed as the window's field is; an empty find text surrounds each character.
    EXPECT_EQ(jobs::jobOptions().appointCells, QStringLiteral("B3，,D5"));
    EXPECT_EQ(f.cell("a.xlsx", 0, "B3"), "ZaZbZ");
    EXPECT_EQ(f.cell("a.xlsx", 0, "D5"), "Z");
    EXPECT_EQ(f.cell("a.xlsx", 1, "B3"), "ab");
    EXPECT_FALSE(QFile::exists(f.path(jobs::matchedListName())));
}

TEST(CliCells, WholeCellAndFormulaModes)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"S1", {{"A1", "head"}, {"A2", "=SUM(B1)"}, {"A3", "SUM"}}}});
    Cli run({"cells", "--folder", f.path(), "--mode", "fill-formula", "--text", "=1+1", "--find", "sum",
             "--whole-cell", "--once-per-sheet"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(f.cell("a.xlsx", 0, "A2"), "=SUM(B1)");
    EXPECT_EQ(f.cell("a.xlsx", 0, "A3"), "=1+1");
    EXPECT_TRUE(jobs::jobOptions().textFullMatch);
    EXPECT_TRUE(jobs::jobOptions().sheetFillOnce);
}

TEST(CliCells, LaunchRefusalsAndACutShortRunExitWithOne)
{
    Folder f;
    writeMemoryWorkbook(f.path("a.xlsx"), {{"S1", {{"A1", "x"}}}});
    const QString stale = f.path(jobs::matchedListName());

    // An empty list is refused before the old lists are touched.
    touch(stale);
    Cli noCells({"cells", "--folder", f.path(), "--mode", "fill-text", "--text", "y", "--cells", "  "});
    EXPECT_EQ(noCells.status, 1);
    EXPECT_EQ(noCells.err, QStringLiteral("指定单元格时需填写单元格名称,如：B3\n"));
    EXPECT_TRUE(QFile::exists(stale));

    // Nothing to locate is refused after they are gone.
    Cli noFind({"cells", "--folder", f.path(), "--mode", "fill-text", "--text", "y", "--find", ""});
    EXPECT_EQ(noFind.status, 1);
    EXPECT_EQ(noFind.err, QStringLiteral("查找内容不能为空!\n"));
    EXPECT_FALSE(QFile::exists(stale));
    EXPECT_EQ(f.journal->serversMade, 0);

    Cli badRange({"cells", "--folder", f.path(), "--mode", "fill-text", "--text", "y", "--find", "x",
                  "--range", "A1:B"});
    EXPECT_EQ(badRange.status, 1);
    EXPECT_EQ(badRange.outLines().last(),
              QStringLiteral("此文件指定区域无效,请重新设置!") + QDir::toNativeSeparators(f.path("a.xlsx")));
    EXPECT_EQ(f.cell("a.xlsx", 0, "A1"), "x");
    EXPECT_FALSE(QFile::exists(f.path(jobs::unmatchedListName())));
    EXPECT_FALSE(jobs::jobOptions().fillTextMode);
}

TEST(CliCells, UsageErrorsExitWithTwo)
{
    Folder f;
    const QString dir = f.path();
    const QStringList base = {"cells", "--folder", dir, "--text", "t"};
    const QList<QStringList> wrong = {
        base + QStringList{"--mode", "delete-row", "--find", "a"},
        base + QStringList{"--mode", "add-column", "--find", "a"},
        base + QStringList{"--mode", "fill-text"},
        base + QStringList{"--mode", "fill-text", "--find", "a", "--cells", "B3"},
        base + QStringList{"--mode", "fill-text", "--cells", "B3", "--right", "1"},
        base + QStringList{"--mode", "fill-text", "--cells", "B3", "--range", "A1:C3"},
        base + QStringList{"--mode", "fill-text", "--find", "a", "--right", "100"},
        base + QStringList{"--mode", "fill-text", "--find", "a", "--up", "-1"},
        base + QStringList{"--mode", "fill-text", "--find", "a", "--down", "two"},
        QStringList{"cells", "--folder", dir, "--mode", "fill-text", "--find", "a"},
    };
    for (const QStringList& args : wrong) {
        Cli run(args);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.startsWith("corvane-cli: ")) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_EQ(f.journal->serversMade, 0);

    Cli help({"cells", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("--once-per-workbook"));
}
