// Deletes (with --insert, inserts) the row or column of every cell on every sheet that shows a
// text (with --in-formulas, whose formula holds it), through the row and column walk on the
// engine, and saves to a copy. With --one-by-one each edit rewrites the package at once, the way
// every edit was made before edits could wait; the two runs save the same workbook.
//
// usage: corvane-walkbench IN.xlsx OUT.xlsx TEXT [rows|columns] [--insert] [--below-or-right]
//                          [--in-formulas] [--range A1:C7] [--one-by-one]
// Prints "edits seconds" (open to saved).
#include "automation/native/nativeworkbook.h"
#include "automation/sheet.h"
#include "operations/rowcolumn.h"
#include "run/runsink.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <chrono>
#include <cstdio>

using namespace corvane::automation;

namespace {

class QuietSink : public RunSink
{
public:
    void status(const QString&) override {}
    void runEnded() override {}
    void progress(int, int) override {}
    void workbookFailed(const QString& path, const QString& reason) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(reason));
    }
    void serverFailed(const QString&) override {}
    void writeList(ResultList, const QString&) override {}
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool oneByOne = args.removeAll(QStringLiteral("--one-by-one")) > 0;
    const bool insert = args.removeAll(QStringLiteral("--insert")) > 0;
    const bool belowOrRight = args.removeAll(QStringLiteral("--below-or-right")) > 0;
    const bool inFormulas = args.removeAll(QStringLiteral("--in-formulas")) > 0;
    QString range;
    const int rangeAt = args.indexOf(QStringLiteral("--range"));
    if (rangeAt >= 0 && rangeAt + 1 < args.size()) {
        range = args[rangeAt + 1];
        args.erase(args.begin() + rangeAt, args.begin() + rangeAt + 2);
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: corvane-walkbench IN.xlsx OUT.xlsx TEXT [rows|columns] [--insert] "
                             "[--below-or-right] [--in-formulas] [--range A1:C7] [--one-by-one]\n");
        return 2;
    }
    const bool columns = args.size() > 3 && args[3] == QLatin1String("columns");
    QFile::remove(args[1]);
    if (!QFile::copy(args[0], args[1])) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(args[0]));
        return 1;
    }

    const auto started = std::chrono::steady_clock::now();
    native::NativeWorkbook book;
    book.keepLineEditsAside(!oneByOne);
    if (!book.open(args[1])) {
        std::fprintf(stderr, "%s\n", qPrintable(book.lastError()));
        return 1;
    }
    RowColumnOptions options;
    options.mode = insert ? (columns ? RowColumnMode::AddColumn : RowColumnMode::AddRow)
                          : (columns ? RowColumnMode::DeleteColumn : RowColumnMode::DeleteRow);
    options.insertDownOrRight = belowOrRight;
    options.locating.findText = args[2];
    options.locating.findInFormula = inFormulas;
    options.locating.findRangeOn = !range.isEmpty();
    options.locating.findRange = range;
    RowColumnOperation op(options);
    QuietSink sink;
    op.takeUpWorkbook(args[1]);
    op.beginWorkbook();
    for (int i = 1; i <= book.sheetCount(); ++i) {
        if (op.workOnSheet(*book.sheet(i), sink) != Operation::AfterSheet::NextSheet)
            break;
    }
    if (!book.save()) {
        std::fprintf(stderr, "%s\n", qPrintable(book.lastError()));
        return 1;
    }
    book.close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%d %.3f\n", op.cellCount(), seconds);
    return 0;
}
