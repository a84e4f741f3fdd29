// Runs bulk operations over folders with one chosen server, for the differential test: every
// line of the job file is one run ("OPERATION<TAB>FOLDER<TAB>ARGUMENT..."). With "libreoffice"
// one office serves all the runs of the file, so the test pays for a single start.
//
// Operations: replace FIND NEW | fill-text FIND TEXT | fill-formula FIND FORMULA |
// delete-row FIND | delete-column FIND | remove-sheet
// Prints "failed<TAB>PATH<TAB>REASON" for each workbook that failed and "ran<TAB>OPERATION<TAB>END".
#include "operations/cellrewrite.h"
#include "operations/findreplace.h"
#include "automation/libreoffice/libreofficeserver.h"
#include "automation/native/nativeserver.h"
#include "run/routingserver.h"
#include "operations/rowcolumn.h"
#include "run/runsink.h"
#include "run/runskeleton.h"
#include "operations/sheetremoval.h"
#include "automation/workbook.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

using namespace corvane::automation;

// The run's sink: failures and the end, nothing else.
class PrintingSink : public RunSink
{
public:
    explicit PrintingSink(QTextStream& out) : m_out(out) {}
    void status(const QString&) override {}
    void runEnded() override {}
    void progress(int, int) override {}
    void workbookFailed(const QString& path, const QString& reason) override
    {
        m_out << "failed\t" << path << '\t' << QString(reason).replace(QLatin1Char('\n'), QLatin1Char(' '))
              << '\n';
    }
    void serverFailed(const QString& reason) override { m_out << "server\t" << reason << '\n'; }
    void writeList(ResultList, const QString&) override {}

private:
    QTextStream& m_out;
};

// The one office of this process, lent to each run; the runs' quit() leaves it running.
class LentOffice : public AutomationServer
{
public:
    explicit LentOffice(AutomationServer& office) : m_office(office) {}
    bool isAvailable() override { return m_office.isAvailable(); }
    std::unique_ptr<Workbook> open(const QString& path) override { return m_office.open(path); }
    void quit() override {}
    QString lastError() const override { return m_office.lastError(); }

private:
    AutomationServer& m_office;
};

CellLocating locating(const QString& find)
{
    CellLocating l;
    l.findText = find;
    return l;
}

std::unique_ptr<Operation> makeOperation(const QStringList& f)
{
    const QString& op = f.at(0);
    const auto arg = [&f](int i) { return i < f.size() ? f.at(i) : QString(); };
    if (op == QLatin1String("replace"))
        return std::make_unique<FindReplaceOperation>(ReplaceOptions{arg(2), arg(3), false});
    if (op == QLatin1String("fill-text"))
        return std::make_unique<CellRewriteOperation>(
            CellRewriteOptions{CellRewriteMode::FillText, locating(arg(2)), arg(3)});
    if (op == QLatin1String("fill-formula"))
        return std::make_unique<CellRewriteOperation>(
            CellRewriteOptions{CellRewriteMode::FillFormula, locating(arg(2)), arg(3)});
    if (op == QLatin1String("delete-row") || op == QLatin1String("delete-column")) {
        RowColumnOptions options;
        options.mode =
            op == QLatin1String("delete-row") ? RowColumnMode::DeleteRow : RowColumnMode::DeleteColumn;
        options.locating = locating(arg(2));
        return std::make_unique<RowColumnOperation>(options);
    }
    if (op == QLatin1String("remove-sheet"))
        return std::make_unique<SheetRemovalOperation>();
    return nullptr;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = QCoreApplication::arguments();
    const std::optional<ServerChoice> choice =
        args.size() == 3 ? parseServerChoice(args.at(1)) : std::nullopt;
    QFile jobs(args.value(2));
    if (!choice || !jobs.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "usage: routing_diffrunner auto|native|libreoffice JOBFILE\n");
        return 2;
    }

    libreoffice::LibreOfficeServer office;
    const ServerFactory factory = [&office, &choice] {
        return std::make_unique<RoutingServer>(
            *choice, [] { return std::make_unique<native::NativeServer>(); },
            [&office] { return std::make_unique<LentOffice>(office); });
    };
    int status = 0;
    while (!jobs.atEnd()) {
        QString line = QString::fromUtf8(jobs.readLine());
        if (line.endsWith(QLatin1Char('\n')))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        std::unique_ptr<Operation> operation = makeOperation(fields);
        if (!operation || fields.size() < 2) {
            std::fprintf(stderr, "unknown job: %s\n", qPrintable(line));
            return 2;
        }
        PrintingSink sink(out);
        RunSettings settings;
        settings.sourcePath = fields.at(1);
        const RunEnd end = runOperation(settings, factory, *operation, sink);
        out << "ran\t" << fields.at(0) << '\t'
            << (end == RunEnd::Completed       ? "completed"
                : end == RunEnd::ServerMissing ? "server-missing"
                                               : "cut-short")
            << '\n';
        out.flush();
        if (end == RunEnd::ServerMissing)
            status = 1;
    }
    office.quit();
    return status;
}
