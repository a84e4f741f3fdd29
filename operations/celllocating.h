// How the cell operations (rewrite, rows and columns, pictures) locate their cells: by
// searching a range for a text and moving a fixed number of rows and columns from each match,
// or by a typed list of cell addresses.
#pragma once

#include "automation/celladdress.h"
#include "automation/findquery.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace corvane::automation {

class Sheet;

struct CellLocating
{
    QString findText; // as typed, not trimmed
    LookAt lookAt = LookAt::Part;
    bool findInFormula = false; // whether the operation honours it is its own choice
    int rowOffset = 0;          // down minus up
    int columnOffset = 0;       // right minus left
    bool sheetFillOnce = false;
    bool workbookFillOnce = false;
    bool findRangeOn = false;
    QString findRange; // trimmed address such as "A1:C7"
    bool appointCellOn = false;
    QString appointCells; // trimmed list such as "B3,D5,F2"

    // The find range is in force only when it is switched on and something was typed.
    bool usesFindRange() const { return findRangeOn && !findRange.isEmpty(); }
};

// The items of an appointed-cell list: full-width commas count as commas; empty items are
// kept and nothing is trimmed, so that every item goes to the server as the user typed it.
QStringList appointedCellItems(const QString& appointCells);

// The cell `rowOffset` rows and `columnOffset` columns away from `match`, each coordinate
// raised to 1 when it would fall below. There is no upper bound: the target may lie outside
// the searched range (and even outside the sheet, where no cell can be had).
CellAddress offsetTarget(const CellAddress& match, int rowOffset, int columnOffset);

// "Sheet:<name>,识别出 <first row + row count>行,<first column + column
// count>列。(如超出实际,请进行提速设置)". The figures are one past the range's last row and column, as the
// user has always seen them.
QString sheetLine(const QString& sheetName, const RangeAddress& range);

// A range of one cell whose value is empty holds nothing to find.
bool isSingleEmptyCell(Sheet& sheet, const RangeAddress& range);

enum class WalkEnd
{
    NoMatch,   // the search found nothing (more)
    CameRound, // the search came round past where it started
    Stopped    // the visitor asked to stop
};

// Walks the matches of `query` in `range` the way the search hands them out: first the match
// after the range's top-left cell, then each next match after the previous one, so the top-left
// cell comes last. `visit` may change the sheet and returns false to stop the walk.
//
// The sheet changes under the walk, so a match may stop matching or new ones may appear. The
// walk ends when the search meets its first match again, and in any case once it has come
// round past that position a second time, even when the first match no longer matches (a
// write into it). A position is never visited twice.
WalkEnd walkMatches(Sheet& sheet, const RangeAddress& range, const FindQuery& query,
                    const std::function<bool(const CellAddress& match)>& visit);

// Every occurrence of `find` in `text` replaced by `with`: letter case must match, occurrences
// are taken left to right without overlap and the inserted text is not searched again. An
// empty `find` occurs before every character and once at the end ("ab" -> "ZaZbZ").
QString replaceExactly(const QString& text, const QString& find, const QString& with);

} // namespace corvane::automation
