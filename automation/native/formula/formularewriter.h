// Rewrites the references in formula text (cell formulas, shared-formula masters, defined
// names) for the edits the engine makes: moving a formula to another cell, deleting or inserting
// rows and columns, deleting a sheet. Only reference tokens are rewritten; every other byte of
// the text stays as it was.
//
// Where each applies in a package: cell formulas (<f>, shared masters, array formulas) take
// adjustFormula with their own sheet; defined names, chart series (<c:f>), internal hyperlink
// locations and other sheet-qualified texts take adjustDefinedName; data validation and
// conditional formatting formulas take adjustFormula with the sheet they belong to; plain
// addresses (sqref, ref, dimension) take the functions of sheetedit.h. A shared-formula group
// whose members lie on both sides of an edited band, or whose references do, no longer derives
// its members from the adjusted master: write the members out (translateFormula) before editing.
//
// Names of sheets are passed plain, as workbook.xml holds them (It's, not 'It''s').
//
// Each operation has two forms: one that returns the new text, and one that returns whether the
// text changes and then (only then) fills out, for callers that walk every formula of a workbook
// and should not copy the unchanged ones.
#pragma once

#include "sheetedit.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::automation::native::formula {

// How a reference that lost its cells or its sheet is written.
enum class LostReferenceStyle : std::uint8_t
{
    // As the spreadsheet application writes it: the surviving part stays, "Sheet1!#REF!" for a
    // qualified reference whose cells are gone, "#REF!A1" for a reference whose sheet is gone.
    Excel,
    // The whole reference becomes "#REF!", as LibreOffice writes it. LibreOffice 7.4 reads the
    // Excel forms above as unparsable (#NAME?) but this one as #REF!.
    Bare,
};

// The formula as it reads in a cell rowDelta rows and columnDelta columns away: every relative
// row and column moves, '$' parts stay. A reference that leaves the sheet becomes #REF!
// ("Sheet1!#REF!" when qualified). Shared-formula members are the master's text translated by
// (member - master).
bool translateFormula(std::string_view formula, int rowDelta, int columnDelta, std::string& out,
                      LostReferenceStyle style = LostReferenceStyle::Excel);
std::string translateFormula(std::string_view formula, int rowDelta, int columnDelta,
                             LostReferenceStyle style = LostReferenceStyle::Excel);
QString translateFormula(const QString& formula, int rowDelta, int columnDelta,
                         LostReferenceStyle style = LostReferenceStyle::Excel);
inline std::string translateFormula(const char* formula, int rowDelta, int columnDelta,
                                    LostReferenceStyle style = LostReferenceStyle::Excel)
{
    return translateFormula(std::string_view(formula), rowDelta, columnDelta, style);
}

// The formula after rows or columns of editedSheet were deleted or inserted. formulaSheet is the
// sheet the formula lives on (its unqualified references point there); pass an empty name for
// text without a home sheet (defined names). References into editedSheet, relative and absolute
// alike, follow their cells; those whose cells are all deleted become #REF! ("Sheet1!#REF!" when
// qualified). References into other sheets, external workbooks and 3-D references stay.
bool adjustFormula(std::string_view formula, std::string_view formulaSheet, std::string_view editedSheet,
                   const SheetEdit& edit, std::string& out,
                   LostReferenceStyle style = LostReferenceStyle::Excel);
std::string adjustFormula(std::string_view formula, std::string_view formulaSheet,
                          std::string_view editedSheet, const SheetEdit& edit,
                          LostReferenceStyle style = LostReferenceStyle::Excel);
QString adjustFormula(const QString& formula, const QString& formulaSheet, const QString& editedSheet,
                      const SheetEdit& edit, LostReferenceStyle style = LostReferenceStyle::Excel);
inline std::string adjustFormula(const char* formula, std::string_view formulaSheet,
                                 std::string_view editedSheet, const SheetEdit& edit,
                                 LostReferenceStyle style = LostReferenceStyle::Excel)
{
    return adjustFormula(std::string_view(formula), formulaSheet, editedSheet, edit, style);
}

// Defined-name text (always sheet-qualified in a workbook) after a row or column edit.
std::string adjustDefinedName(std::string_view text, std::string_view editedSheet, const SheetEdit& edit,
                              LostReferenceStyle style = LostReferenceStyle::Excel);

// The formula or defined-name text after deletedSheet was removed from the workbook: a reference
// into it loses its sheet and reads "#REF!A1" (the address kept behind the error, as the
// application writes it); a sheet-qualified name into it becomes "#REF!". A 3-D reference that
// starts or ends at the deleted sheet moves that end to the neighbouring sheet inside the span
// when sheetOrder (the workbook's sheet names in order, before the deletion) is given, and
// becomes "#REF!<address>" when it is not or when the span held only that sheet.
bool removeSheetFromFormula(std::string_view formula, std::string_view deletedSheet,
                            const std::vector<std::string>& sheetOrder, std::string& out,
                            LostReferenceStyle style = LostReferenceStyle::Excel);
std::string removeSheetFromFormula(std::string_view formula, std::string_view deletedSheet,
                                   const std::vector<std::string>& sheetOrder = {},
                                   LostReferenceStyle style = LostReferenceStyle::Excel);
QString removeSheetFromFormula(const QString& formula, const QString& deletedSheet,
                               const std::vector<std::string>& sheetOrder = {},
                               LostReferenceStyle style = LostReferenceStyle::Excel);
inline std::string removeSheetFromFormula(const char* formula, std::string_view deletedSheet,
                                          const std::vector<std::string>& sheetOrder = {},
                                          LostReferenceStyle style = LostReferenceStyle::Excel)
{
    return removeSheetFromFormula(std::string_view(formula), deletedSheet, sheetOrder, style);
}

// The formula or defined-name text after oldName was renamed to newName: every reference into
// the sheet, 3-D spans that start or end at it included, names it anew, quoted as the new name
// needs. References into other workbooks keep their prefixes; text inside strings is no
// reference and stays.
bool renameSheetInFormula(std::string_view formula, std::string_view oldName, std::string_view newName,
                          std::string& out);
std::string renameSheetInFormula(std::string_view formula, std::string_view oldName,
                                 std::string_view newName);
QString renameSheetInFormula(const QString& formula, const QString& oldName, const QString& newName);
inline std::string renameSheetInFormula(const char* formula, std::string_view oldName,
                                        std::string_view newName)
{
    return renameSheetInFormula(std::string_view(formula), oldName, newName);
}

} // namespace corvane::automation::native::formula
