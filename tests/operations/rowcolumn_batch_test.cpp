// Deletions that wait and go into the package together must leave exactly the workbook that
// deleting one line after another leaves: the same walk runs both ways on generated workbooks
// (formulas, merges, validations, notes, charts and names across the deleted lines), and every
// part of the two results is compared by Python's own zip reader; openpyxl must open the result.
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
    bool columns;
    const char* find;
    const char* range; // empty: the whole sheet
};

void PrintTo(const WalkCase& walk, std::ostream* out)
{
    *out << walk.name;
}

class DeferredDeletions : public corvane::testing::OpenpyxlTest,
                          public ::testing::WithParamInterface<WalkCase>
{
protected:
    // Runs the walk over every sheet of a copy of `source`; the number of lines deleted.
    int walk(const QString& source, const QString& target, bool oneByOne)
    {
        const WalkCase& c = GetParam();
        EXPECT_TRUE(corvane::testing::copyWorkbook(source, target));
        native::NativeWorkbook book;
        book.keepDeletionsAside(!oneByOne);
        EXPECT_TRUE(book.open(target)) << book.lastError().toStdString();
        RowColumnOptions options;
        options.mode = c.columns ? RowColumnMode::DeleteColumn : RowColumnMode::DeleteRow;
        options.locating.findText = QString::fromUtf8(c.find);
        options.locating.findRangeOn = *c.range != 0;
        options.locating.findRange = QString::fromUtf8(c.range);
        RowColumnOperation op(options);
        corvane::testsupport::RecordingSink sink;
        op.takeUpWorkbook(target);
        op.beginWorkbook();
        for (int i = 1; i <= book.sheetCount(); ++i)
            op.workOnSheet(*book.sheet(i), sink);
        EXPECT_TRUE(book.save()) << book.lastError().toStdString();
        book.close();
        return op.cellCount();
    }
};

TEST_P(DeferredDeletions, LeaveTheWorkbookThatOneDeletionAfterAnotherLeaves)
{
    const WalkCase& c = GetParam();
    const QString source = path(QStringLiteral("source.xlsx"));
    QStringList make{QStringLiteral(CORVANE_WALK_BOOK), source, QString::number(c.lines),
                     QString::number(c.seed)};
    if (c.columns)
        make.append(QStringLiteral("--columns"));
    python(make);

    const int together = walk(source, path(QStringLiteral("together.xlsx")), false);
    const int oneByOne = walk(source, path(QStringLiteral("one-by-one.xlsx")), true);
    EXPECT_GT(together, 10);
    EXPECT_EQ(together, oneByOne);

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

INSTANTIATE_TEST_SUITE_P(GeneratedWorkbooks, DeferredDeletions,
                         ::testing::Values(WalkCase{"Rows", 240, 4, false, "drop", ""},
                                           WalkCase{"Columns", 200, 6, true, "drop", ""},
                                           // A range the deletions shrink, and a text few lines hold.
                                           WalkCase{"RowsInARange", 240, 7, false, "drop", "B30:D150"},
                                           WalkCase{"ColumnsInARange", 200, 8, true, "keep", "C2:BZ3"}),
                         caseName);

} // namespace
