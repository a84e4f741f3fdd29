// The spreadsheet server one run works with: it opens workbooks one after another.
// Every backend object is created, used and destroyed on the run's worker thread; only
// openConcurrently() may be called from other threads, and a workbook it opened is used and
// closed on the thread that opened it.
#pragma once

#include "workbook.h"

#include <QString>

#include <functional>
#include <memory>

namespace corvane::automation {

// What openConcurrently() gives: a workbook, or why there is none.
struct ConcurrentOpen
{
    std::unique_ptr<Workbook> workbook;
    QString error;        // why it could not be opened, when there is no workbook and no hand-over
    bool foreign = false; // with the error: as lastOpenWasForeign() after open()
    // The file needs the part of the server that works one workbook at a time (an office):
    // it must be opened by open() on the run's thread instead.
    bool handOver = false;
};

// What a run does to its workbooks, for a server that does only some of it on some formats and
// hands the rest on before anything is changed.
enum class WorkKind
{
    Other,                  // anything not named below: a server doing only part of the work refuses it
    FindReplace,            // find and replace, or find only: constants and formula texts are searched
    FindReplaceBeyondCells, // as FindReplace, and also in comments, shapes, headers, links or sheet names
    CellText,               // values written over located cells (a located cell's value may be read)
    CellFormula,            // formulas written over located cells
    RowColumn,              // rows or columns deleted or inserted
    Pictures,               // pictures inserted and deleted
    SheetRemoval,           // a sheet deleted
};

class AutomationServer
{
public:
    virtual ~AutomationServer() = default;

    // False when the server could not be started; lastError() says why.
    virtual bool isAvailable() = 0;

    // Opens the workbook at `path` (native separators). Null when it cannot be opened,
    // with the reason in lastError(); the file is then left untouched.
    virtual std::unique_ptr<Workbook> open(const QString& path) = 0;

    // Ends the server; nothing obtained from it may be used afterwards.
    virtual void quit() = 0;

    virtual QString lastError() const = 0;

    // After open() failed: whether the file is not of a kind this server reads at all (another
    // format), so that another server may take it; false when it is of the server's own kind
    // but damaged, encrypted or unreadable.
    virtual bool lastOpenWasForeign() const { return false; }

    // Why no server may work on the file at `path`, found by reading all of it: a workbook of
    // this server's kind that is damaged (a part failing its checksum, say), encrypted or without
    // sheets. Empty when there is no such reason, or when the file is not of this server's kind.
    virtual QString refusal(const QString& path)
    {
        (void)path;
        return {};
    }

    // Told before the first open() of a run what the run will do to each workbook.
    virtual void expectWork(WorkKind work) { (void)work; }
    // Told with expectWork() the formula every written cell gets, when the run writes one and
    // the same formula; empty when it writes none or each cell's own.
    virtual void expectFormula(const QString& text) { (void)text; }
    // Told with expectWork(), when the run rewrites each located cell's formula text in place,
    // how the text it holds becomes the text written; empty when the run does no such thing.
    using FormulaRewrite = std::function<QString(const QString&)>;
    virtual void expectFormulaRewrite(const FormulaRewrite& rewrite) { (void)rewrite; }
    // Whether openConcurrently() may be called, from several threads at once, once isAvailable()
    // was true.
    virtual bool opensConcurrently() const { return false; }
    // Opens the workbook at `path` as open() would, from any thread and beside other calls for
    // other workbooks; lastError() is left alone.
    virtual ConcurrentOpen openConcurrently(const QString& path)
    {
        (void)path;
        ConcurrentOpen opened;
        opened.handOver = true;
        return opened;
    }

    // The status line to show when isAvailable() is false; empty for the common message.
    virtual QString missingMessage() const { return {}; }
};

} // namespace corvane::automation
