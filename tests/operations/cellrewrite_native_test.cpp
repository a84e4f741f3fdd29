// The cell rewrites end to end on real .xlsx files through the native engine, made and read
// back with openpyxl.
#include "automation/native/nativeserver.h"
#include "operations/cellrewrite.h"
#include "run/runskeleton.h"
#include "tests/support/recordingsink.h"
#include "workbookfixture.h"
#include "workbooktest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace corvane::automation;
using namespace corvane::testsupport;

namespace {

class NativeCells : public corvane::testing::OpenpyxlTest
{
protected:
    QByteArray tool(const QStringList& arguments, const QByteArray& input = {})
    {
        return python(QStringList{QStringLiteral(CORVANE_XLSX_CELLS)} + arguments, input, 60000);
    }

    // sheets: [[name, {address: value}], ...]
    void make(const QString& name, const QJsonArray& sheets)
    {
        tool({QStringLiteral("make"), path(name)}, QJsonDocument(sheets).toJson());
    }
    // The cells of every sheet as openpyxl reads them.
    QJsonArray dump(const QString& name)
    {
        return QJsonDocument::fromJson(tool({"dump", path(name)})).array();
    }
    QJsonObject sheetCells(const QString& name, int sheet)
    {
        return dump(name).at(sheet).toArray().at(1).toObject();
    }

    RunEnd run(const CellRewriteOptions& options, int* cells = nullptr)
    {
        CellRewriteOperation op(options);
        const RunEnd end = runOperation(
            {m_dir.path() + QLatin1Char('/'), false, false, {}},
            [] { return std::make_unique<native::NativeServer>(); }, op, m_sink);
        if (cells)
            *cells = op.cellCount();
        return end;
    }

    RecordingSink m_sink;
};

CellRewriteOptions rewrite(CellRewriteMode mode, const QString& find, const QString& newText)
{
    CellRewriteOptions o;
    o.mode = mode;
    o.locating.findText = find;
    o.newText = newText;
    return o;
}

QJsonArray sheet(const QString& name, const QJsonObject& cells)
{
    return QJsonArray{name, cells};
}

} // namespace

TEST_F(NativeCells, FillTextWritesCellsThatDidNotExistBeyondTheUsedRange)
{
    make("a.xlsx", QJsonArray{sheet("S1", {{"A1", "head"}, {"B2", "mark"}, {"C3", "Mark here"}})});
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "mark", "42");
    o.locating.columnOffset = 3;
    o.locating.rowOffset = 5;
    int cells = 0;
    ASSERT_EQ(run(o, &cells), RunEnd::Completed);
    EXPECT_EQ(cells, 2);
    const QJsonObject got = sheetCells("a.xlsx", 0);
    // Written like typed input: the number-like text becomes a number.
    EXPECT_EQ(got.value("E7").toVariant(), QVariant(42));
    EXPECT_EQ(got.value("F8").toVariant(), QVariant(42));
    EXPECT_EQ(got.value("B2").toString(), "mark");
    EXPECT_EQ(got.size(), 5);
}

TEST_F(NativeCells, WalkEndsWhenAWriteSpoilsTheFirstMatch)
{
    make("a.xlsx", QJsonArray{sheet("S1", {{"A1", "x"}, {"B1", "x"}})});
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "y");
    o.locating.columnOffset = 1;
    int cells = 0;
    ASSERT_EQ(run(o, &cells), RunEnd::Completed);
    EXPECT_EQ(cells, 2);
    const QJsonObject got = sheetCells("a.xlsx", 0);
    EXPECT_EQ(got, (QJsonObject{{"A1", "x"}, {"B1", "y"}, {"C1", "y"}}));
}

TEST_F(NativeCells, FormulaModesSearchAndWriteFormulaTexts)
{
    make("a.xlsx", QJsonArray{sheet(
                       "S1", {{"A1", 1}, {"A2", 2}, {"B1", "=A1*10"}, {"B2", "=A2*10"}, {"C1", "total"}})});
    // The values of B1 and B2 hold no "A"; their formulas do. Fill text would find only C1.
    CellRewriteOptions o = rewrite(CellRewriteMode::ChangeFormula, "A", "$A");
    int cells = 0;
    ASSERT_EQ(run(o, &cells), RunEnd::Completed);
    // Found without regard to letter case: "total" holds an "a" and is rewritten as itself.
    EXPECT_EQ(cells, 3);
    QJsonObject got = sheetCells("a.xlsx", 0);
    EXPECT_EQ(got.value("B1").toString(), "=$A1*10");
    EXPECT_EQ(got.value("B2").toString(), "=$A2*10");
    EXPECT_EQ(got.value("C1").toString(), "total");

    o = rewrite(CellRewriteMode::FillFormula, "total", "=SUM(B1:B2)");
    o.locating.columnOffset = 1;
    o.locating.lookAt = LookAt::Whole;
    ASSERT_EQ(run(o, &cells), RunEnd::Completed);
    EXPECT_EQ(sheetCells("a.xlsx", 0).value("D1").toString(), "=SUM(B1:B2)");
}

TEST_F(NativeCells, ChangeFormulaReadsAndWritesASharedFormulaMember)
{
    const std::string data =
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" "
        "si=\"0\">A1*2</f><v>2</v></c></row>"
        "<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>4</v></c></row>"
        "<row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>6</v></c></row>";
    ASSERT_TRUE(corvane::testing::writeWorkbook(path("s.xlsx"), {{"S1", data}}));
    CellRewriteOptions o = rewrite(CellRewriteMode::ChangeFormula, "", "");
    o.locating.appointCellOn = true;
    o.locating.appointCells = "B2";
    o.mode = CellRewriteMode::ChangeFormula;
    o.locating.findText = "*2";
    o.newText = "*5";
    ASSERT_EQ(run(o), RunEnd::Completed);
    const QJsonObject got = sheetCells("s.xlsx", 0);
    EXPECT_EQ(got.value("B1").toString(), "=A1*2");
    EXPECT_EQ(got.value("B2").toString(), "=A2*5");
    EXPECT_EQ(got.value("B3").toString(), "=A3*2");
}

TEST_F(NativeCells, AppointedListAndCaseSensitiveReplacementOnEverySheet)
{
    make("a.xlsx", QJsonArray{sheet("S1", {{"B3", "ab"}, {"D5", "ABC"}}), sheet("S2", {{"A1", "z"}})});
    CellRewriteOptions o = rewrite(CellRewriteMode::ChangeText, "", "Z");
    o.locating.appointCellOn = true;
    o.locating.appointCells = QStringLiteral("B3，D5,,F2");
    o.locating.rowOffset = 4;
    int cells = 0;
    ASSERT_EQ(run(o, &cells), RunEnd::Completed);
    EXPECT_EQ(cells, 6);
    const QJsonArray got = dump("a.xlsx");
    EXPECT_EQ(got.at(0).toArray().at(1).toObject(),
              (QJsonObject{{"B3", "ZaZbZ"}, {"D5", "ZAZBZCZ"}, {"F2", "Z"}}));
    EXPECT_EQ(got.at(1).toArray().at(1).toObject(),
              (QJsonObject{{"A1", "z"}, {"B3", "Z"}, {"D5", "Z"}, {"F2", "Z"}}));
}

TEST_F(NativeCells, InvalidFindRangeLeavesTheFileUntouched)
{
    make("a.xlsx", QJsonArray{sheet("S1", {{"A1", "x"}})});
    const QByteArray before = corvane::testing::fileBytes(path("a.xlsx"));
    ASSERT_FALSE(before.isEmpty());
    CellRewriteOptions o = rewrite(CellRewriteMode::FillText, "x", "y");
    o.locating.findRangeOn = true;
    o.locating.findRange = "nonsense!";
    EXPECT_EQ(run(o), RunEnd::CutShort);
    EXPECT_EQ(corvane::testing::fileBytes(path("a.xlsx")), before);
    EXPECT_TRUE(m_sink.lists.isEmpty());
}
