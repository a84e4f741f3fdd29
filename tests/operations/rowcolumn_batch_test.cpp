// Deletions and insertions that wait and go into the package together must leave exactly the
// workbook that editing one line after another leaves: the same walk runs both ways on generated
// workbooks (formulas, merges, validations, notes, charts, names, formats across the edited
// lines), searching in values or in formulas, and every part of the two results is compared by
// Python's own zip reader; openpyxl must open the result.
#include "automation/native/nativeworkbook.h"
#include "automation/sheet.h"
#include "operations/rowcolumn.h"
#include "tests/support/recordingsink.h"
#include "workbooktest.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace corvane::automation;

namespace {

struct WalkCase
{
    const char* name;
    int lines;
    int seed;
    RowColumnMode mode;
    const char* find;
    const char* range; // empty: the whole sheet
    bool inFormulas = false;
    bool belowOrRight = false;
    bool waits = true; // the edits wait for one another
};

void PrintTo(const WalkCase& walk, std::ostream* out)
{
    *out << walk.name;
}

class DeferredLineEdits : public corvane::testing::OpenpyxlTest,
                          public ::testing::WithParamInterface<WalkCase>
{
protected:
    // Runs the walk over every sheet of a copy of `source`; the number of lines edited.
    // `written`: how many edits went into the package.
    int walk(const QString& source, const QString& target, bool oneByOne, int& written)
    {
        const WalkCase& c = GetParam();
        EXPECT_TRUE(corvane::testing::copyWorkbook(source, target));
        native::NativeWorkbook book;
        book.keepLineEditsAside(!oneByOne);
        EXPECT_TRUE(book.open(target)) << book.lastError().toStdString();
        RowColumnOptions options;
        options.mode = c.mode;
        options.insertDownOrRight = c.belowOrRight;
        options.locating.findText = QString::fromUtf8(c.find);
        options.locating.findInFormula = c.inFormulas;
        options.locating.findRangeOn = *c.range != 0;
        options.locating.findRange = QString::fromUtf8(c.range);
        RowColumnOperation op(options);
        corvane::testsupport::RecordingSink sink;
        op.takeUpWorkbook(target);
        op.beginWorkbook();
        for (int i = 1; i <= book.sheetCount(); ++i)
            op.workOnSheet(*book.sheet(i), sink);
        EXPECT_TRUE(book.save()) << book.lastError().toStdString();
        written = book.lineEditsWritten();
        book.close();
        return op.cellCount();
    }
};

TEST_P(DeferredLineEdits, LeaveTheWorkbookThatOneEditAfterAnotherLeaves)
{
    const WalkCase& c = GetParam();
    const QString source = path(QStringLiteral("source.xlsx"));
    QStringList make{QStringLiteral(CORVANE_WALK_BOOK), source, QString::number(c.lines),
                     QString::number(c.seed)};
    if (c.mode == RowColumnMode::DeleteColumn || c.mode == RowColumnMode::AddColumn)
        make.append(QStringLiteral("--columns"));
    python(make);

    int writtenTogether = 0;
    int writtenOneByOne = 0;
    const int together = walk(source, path(QStringLiteral("together.xlsx")), false, writtenTogether);
    const int oneByOne = walk(source, path(QStringLiteral("one-by-one.xlsx")), true, writtenOneByOne);
    EXPECT_GT(together, 5);
    EXPECT_EQ(together, oneByOne);
    EXPECT_EQ(writtenOneByOne, oneByOne);
    // The first edit of a sheet goes in at once; the rest wait, unless the searches need them.
    if (c.waits)
        EXPECT_LE(writtenTogether, 4) << "of " << together;
    else
        EXPECT_EQ(writtenTogether, together);

    const QString compare = QStringLiteral(R"(
import sys, zipfile, openpyxl
a, b = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
names = sorted(a.namelist())
print(" ".join(n for n in sorted(set(names) ^ set(b.namelist())) + [n for n in names if n in b.namelist() and a.read(n) != b.read(n)]))
openpyxl.load_workbook(sys.argv[1])
)");
    EXPECT_EQ(QString::fromUtf8(python({QStringLiteral("-c"), compare, path(QStringLiteral("together.xlsx")),
                                        path(QStringLiteral("one-by-one.xlsx"))}))
                  .trimmed(),
              QString())
        << "parts that differ";
}

std::string caseName(const ::testing::TestParamInfo<WalkCase>& walk)
{
    return walk.param.name;
}

constexpr auto DeleteRow = RowColumnMode::DeleteRow;
constexpr auto DeleteColumn = RowColumnMode::DeleteColumn;
constexpr auto AddRow = RowColumnMode::AddRow;
constexpr auto AddColumn = RowColumnMode::AddColumn;

INSTANTIATE_TEST_SUITE_P(
    GeneratedWorkbooks, DeferredLineEdits,
    ::testing::Values(
        WalkCase{"Rows", 240, 4, DeleteRow, "drop", ""},
        WalkCase{"Columns", 200, 6, DeleteColumn, "drop", ""},
        // A range the deletions shrink, and a text few lines hold.
        WalkCase{"RowsInARange", 240, 7, DeleteRow, "drop", "B30:D150"},
        WalkCase{"ColumnsInARange", 200, 8, DeleteColumn, "keep", "C2:BZ3"},
        WalkCase{"InsertRows", 240, 9, AddRow, "drop", ""},
        // The search comes round to the start of a row: the insertions go on along the first one.
        WalkCase{"InsertColumnsRight", 200, 10, AddColumn, "drop", "A2:GZ4", false, true},
        // Insertions that the range grows with, below rows that end on the range's edge.
        WalkCase{"InsertRowsBelowInARange", 240, 11, AddRow, "drop", "A20:C181", false, true},
        WalkCase{"InsertColumnsInARange", 200, 12, AddColumn, "keep", "B2:CZ2"},
        // In formulas: a text no reference can make or unmake, and one the moving
        // references do (C1 in C10 to C19, in $C$1 and in C100 as they move up).
        WalkCase{"RowsByFormulaText", 240, 13, DeleteRow, "IF(", "", true},
        WalkCase{"RowsByReferences", 40, 14, DeleteRow, "c1", "", true},
        WalkCase{"ColumnsByReferences", 30, 15, DeleteColumn, "E3", "", true},
        WalkCase{"InsertRowsByReferences", 60, 16, AddRow, "C2", "", true, true},
        // Too many formulas that a deletion could change: taken in before each search.
        WalkCase{"RowsByManyReferences", 240, 17, DeleteRow, "C1", "", true, false, false}),
    caseName);

} // namespace
