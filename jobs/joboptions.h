// The options of a job, as the last launch left them. A launch writes its own operation's
// fields and the common ones on the GUI thread before it sends its request; the worker only
// reads them. Fields of other operations keep the values of earlier launches.
#pragma once

#include "operations/cellrewrite.h"
#include "operations/findreplace.h"
#include "run/routingserver.h"
#include "operations/rowcolumn.h"
#include "run/runskeleton.h"

#include <QString>

#include <optional>

namespace corvane::jobs {

struct JobOptions
{
    // Common to every operation.
    QString sourcePath;
    bool onlyFirstSheet = false;
    bool appointedSheet = false;
    QString appointedSheetName; // assigned only while appointedSheet is set
    QString openFailedListPath;
    QString matchedListPath;
    QString unmatchedListPath;
    // The window shows the lists it writes; the command line only when asked to.
    bool openLists = true;
    // Which server opens the workbooks; the server factory of the program reads it when a run
    // starts.
    automation::ServerChoice server = automation::ServerChoice::Auto;
    // Where each workbook's original goes before the run saves it; empty for no backup.
    QString backupFolder;
    // A preview: the run does all its work but saves nothing, writes no list and deletes none.
    bool dryRun = false;
    // Where the run's change report goes (".csv" or ".jsonl"); empty for none.
    QString reportPath;
    // How many workbooks are worked on at once; 0 for as many as the machine has cores.
    int jobs = 0;

    // Find and replace.
    bool justShow = false;
    QString findText;
    QString replaceText;
    automation::ReplacePlaces alsoReplace; // places beside the cells

    // Cell locating: cell rewrite, row and column operations, pictures.
    QString cellFindText;
    int cellRight = 0;
    int cellLeft = 0;
    int cellDown = 0;
    int cellUp = 0;
    bool textFullMatch = false;
    bool findInFormula = false;
    bool workbookFillOnce = false;
    bool sheetFillOnce = false;
    bool findRangeOn = false;
    QString findRange; // assigned only while findRangeOn is set
    bool appointCellOn = false;
    QString appointCells; // assigned only while appointCellOn is set

    // Cell rewrite and row and column operations; exactly one mode is set while such a job runs.
    QString cellFillText;
    bool insertDownOrRight = false;
    bool fillTextMode = false;
    bool changeTextMode = false;
    bool fillFormulaMode = false;
    bool changeFormulaMode = false;
    bool deleteRowMode = false;
    bool deleteColumnMode = false;
    bool addRowMode = false;
    bool addColumnMode = false;

    // Pictures.
    QString picPath;
    int picRight = 0;
    int picLeft = 0;
    int picDown = 0;
    int picUp = 0;
    int picWidth = 0;
    int picHeight = 0;
    bool picTransparent = false;
    bool picDeleteOld = false;
};

// The one record of the process.
JobOptions& jobOptions();

// What the automation layer takes from the record.
automation::RunSettings runSettings(const JobOptions& options);
automation::ReplaceOptions replaceOptions(const JobOptions& options);
// The cell-locating fields as every cell operation takes them.
automation::CellLocating cellLocating(const JobOptions& options);
// The rewrite that the set mode flag asks for; none when no rewrite mode is set.
std::optional<automation::CellRewriteOptions> cellRewriteOptions(const JobOptions& options);
// The row or column operation of the set mode flag; none when a rewrite mode (or none) is set.
std::optional<automation::RowColumnOptions> rowColumnOptions(const JobOptions& options);
// Clears the eight mode flags of the cell job, so that the next cell launch finds only its own.
void clearCellModes(JobOptions& options);

} // namespace corvane::jobs
