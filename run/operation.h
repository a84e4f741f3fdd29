// One bulk operation as the run skeleton drives it: its per-sheet work, its per-workbook
// decision and the end of its run. The skeleton does everything else.
#pragma once

#include "automation/automationserver.h"
#include "run/runsink.h"

#include <QString>

#include <memory>
#include <optional>

namespace corvane::automation {

class Sheet;
class Workbook;

// The sheet options of a run, for an operation that picks its sheets itself.
struct SheetChoice
{
    bool onlyFirstSheet = false;
    bool appointedSheet = false;
    QString appointedSheetName; // read only while appointedSheet is set
};

// What the skeleton gathered over a run, handed to the operation's end.
struct RunTotals
{
    int opened = 0;  // workbooks the server opened
    int matched = 0; // workbooks the operation kept as matched (saved when it asked to save)
    qint64 seconds = 0;
    QString openFailedList;
    QString matchedList;
    QString unmatchedList;
};

class Operation
{
public:
    enum class AfterSheet
    {
        NextSheet,   // go on with the workbook's next selected sheet
        EndWorkbook, // skip the workbook's remaining sheets
        EndRun       // stop the whole run at once: no summary, no lists
    };

    struct WorkbookOutcome
    {
        bool save = false;
        // The list that takes the path; Matched also counts the workbook. A failed save sends
        // the path to the open-failed list instead and does not count it.
        std::optional<ResultList> list;
    };

    virtual ~Operation() = default;

    // What the operation does to a workbook, so that a server doing only part of it can leave the
    // workbook to another before anything changes.
    virtual WorkKind workKind() const { return WorkKind::Other; }
    // The formula text every cell is written with, when that is one and the same; empty otherwise.
    virtual QString writtenFormula() const { return {}; }
    // How a located cell's formula text becomes the one written, when the operation rewrites
    // formulas in place; empty otherwise.
    virtual AutomationServer::FormulaRewrite formulaRewrite() const { return {}; }

    // Notes sent around the server's start ("excel OK!", "WorkBooks OK!").
    virtual bool sendsStartNotes() const { return false; }
    // The status line shown when a workbook is taken up.
    virtual QString progressLine(const QString& path) const { return path; }
    // True: the server is quit before the summary; false: after the result lists.
    virtual bool quitsBeforeSummary() const { return true; }

    // The path of the workbook that the next beginWorkbook() takes up, for the operation's
    // own messages.
    virtual void takeUpWorkbook(const QString& path) { (void)path; }
    virtual void beginWorkbook() = 0;
    // True: the operation is handed the whole workbook (workOnWorkbook) instead of each selected
    // sheet, for work that changes the sheet list itself.
    virtual bool picksOwnSheets() const { return false; }
    virtual void workOnWorkbook(Workbook& workbook, const SheetChoice& choice, RunSink& sink)
    {
        (void)workbook;
        (void)choice;
        (void)sink;
    }
    virtual AfterSheet workOnSheet(Sheet& sheet, RunSink& sink) = 0;
    // After the selected sheets of a workbook were worked on (not after an EndRun): the
    // workbook-wide part of the operation, which may rename sheets.
    virtual void afterSheets(Workbook& workbook, const SheetChoice& choice, RunSink& sink)
    {
        (void)workbook;
        (void)choice;
        (void)sink;
    }
    virtual WorkbookOutcome endWorkbook() = 0;
    // The workbook just ended was not saved after all (its save failed, or a part of it could
    // not be read): what the operation counted in it must not count.
    virtual void dropWorkbook() {}
    // Sends the summaries, ends the busy state and writes the lists, in the operation's order.
    virtual void finishRun(const RunTotals& totals, RunSink& sink) = 0;

    // For a run that works on several workbooks at once: a copy with the same options and
    // nothing counted yet, which takes up one workbook (takeUpWorkbook to endWorkbook, and
    // dropWorkbook when it applies) on a thread of its own. Null when the operation's workbooks
    // must be worked on one after another. Called on one object from several threads at once,
    // so it may only read.
    virtual std::unique_ptr<Operation> workbookCopy() const { return nullptr; }
    // Adds what `copy` (made by workbookCopy and done with its workbook) counted to this run's
    // counts, as if this object had worked on that workbook itself.
    virtual void foldWorkbook(const Operation& copy) { (void)copy; }
};

} // namespace corvane::automation
