// Deletes the row (or column) of every cell on every sheet that shows a text, through the row
// and column walk on the engine, and saves to a copy. With --one-by-one each deletion rewrites
// the package at once, the way every deletion was made before deletions could wait; the two
// runs save the same workbook.
//
// usage: corvane-walkbench IN.xlsx OUT.xlsx TEXT [rows|columns] [--one-by-one]
// Prints "deletions seconds" (open to saved).
#include "automation/native/nativeworkbook.h"
#include "operations/rowcolumn.h"
#include "run/runsink.h"
#include "automation/sheet.h"

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
    if (args.size() < 3) {
        std::fprintf(stderr,
                     "usage: corvane-walkbench IN.xlsx OUT.xlsx TEXT [rows|columns] [--one-by-one]\n");
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
    book.keepDeletionsAside(!oneByOne);
    if (!book.open(args[1])) {
        std::fprintf(stderr, "%s\n", qPrintable(book.lastError()));
        return 1;
    }
    RowColumnOptions options;
    options.mode = columns ? RowColumnMode::DeleteColumn : RowColumnMode::DeleteRow;
    options.locating.findText = args[2];
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
