// What a run changes in a workbook (or, in a preview, would change) and how each workbook came
// out: the records of the change report, sent through the run's sink as the run goes.
#pragma once

#include "celladdress.h"

#include <QString>

namespace corvane::automation {

enum class ChangeKind
{
    Value,
    Formula,
    RowDeleted,
    ColumnDeleted,
    RowInserted,
    ColumnInserted,
    PictureInserted,
    ShapeDeleted,
    SheetDeleted,
    // Texts outside the cells a replace may also reach; the detail names the place where the
    // cell cannot (a shape's name, a header's kind, an external link's number).
    Comment,
    ShapeText,
    HeaderFooter,
    Hyperlink,
    ExternalLink,
    SheetRenamed
};

// The stable name a report uses for the kind ("value", "row-deleted", ...).
QString changeKindName(ChangeKind kind);

struct ChangeRecord
{
    QString workbook; // as the result lists write it
    QString sheet;
    QString cell; // A1 style: a cell, a whole row ("5:5") or column ("C:C"); empty for a sheet
    ChangeKind kind = ChangeKind::Value;
    QString before; // formula bar text before and after, for value and formula changes
    QString after;  // the picture file, for an inserted picture
    QString detail; // position of a picture, number of a deleted drawing object
};

// A cell whose formula bar text went from `before` to `after`; a formula change when either
// side is a formula.
ChangeRecord cellChange(const QString& workbook, const QString& sheet, const CellAddress& cell,
                        const QString& before, const QString& after);

struct WorkbookRecord
{
    enum class Outcome
    {
        Changed,   // saved with its changes (in a preview: would be)
        Unchanged, // nothing to change in it
        Refused,   // the server refused the changes it needed; not saved
        Failed     // could not be opened, read or saved
    };

    QString workbook;
    Outcome outcome = Outcome::Unchanged;
    QString reason;  // why it was refused or failed; notes on a changed one
    int changes = 0; // change records sent for it
};

// "changed", "unchanged", "refused", "failed".
QString outcomeName(WorkbookRecord::Outcome outcome);

} // namespace corvane::automation
