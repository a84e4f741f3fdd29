// Deleting or inserting whole rows or columns of one sheet the way the spreadsheet application
// does: the sheet's cells and everything that stores a position on it move (comments and their
// notes, drawings, controls included), and every reference
// to it anywhere in the package (formulas of all sheets, defined names, charts) follows.
//
// The edit is worked out on copies first; the package changes only when every part could be
// adjusted. What cannot be adjusted safely (a pivot table in the way or fed from the edited
// lines, a table header or totals row that would be deleted, a table cut through by a column
// edit, part of an array formula, a protected sheet) refuses the edit.
#pragma once

#include "formula/sheetedit.h"

#include <QString>

#include <map>
#include <string>
#include <vector>

namespace pugi {
class xml_node;
struct xml_node_struct;
} // namespace pugi

namespace corvane::automation::native {

class Package;
class XmlPart;

class RowColumnEdit
{
public:
    struct SheetPart
    {
        std::string name; // as workbook.xml holds it, UTF-8
        std::string part; // zip entry name
        bool grid = false;
    };

    // `sheets` in workbook order; `edited` indexes the sheet whose rows or columns change.
    RowColumnEdit(Package& package, std::vector<SheetPart> sheets, std::size_t edited,
                  const formula::SheetEdit& edit);

    // Works out every changed part. False with error() when the edit is refused; nothing in
    // the package has changed then.
    bool prepare();
    // Puts the prepared parts into the package. False only when a prepared text fails to
    // parse again (a fault of this code); parts put in before stay.
    bool apply();

    // Cell formulas of the surviving cells, on every sheet, whose text the edit changed (a
    // shared formula counts once per cell); known after prepare().
    int adjustedFormulas() const { return m_adjustedFormulas; }
    // Worksheet parts that apply() replaced: their part objects were renewed.
    const std::vector<std::string>& replacedWorksheets() const { return m_replacedWorksheets; }
    const QString& error() const { return m_error; }

private:
    struct WorksheetWork;

    bool refuse(const QString& reason);
    // The part's current text (its edited state when it is loaded) as a tree of its own.
    bool loadCopy(const std::string& name, XmlPart& copy);
    bool currentText(const std::string& name, std::string& out);

    bool prepareWorksheet(std::size_t index);
    bool checkEditedSheet(WorksheetWork& work);
    void moveCells(WorksheetWork& work);
    void copyFormats(WorksheetWork& work, const std::map<pugi::xml_node_struct*, int>& rowNumbers);
    void adjustFormulas(WorksheetWork& work);
    void adjustSharedGroups(WorksheetWork& work);
    void adjustSheetRanges(WorksheetWork& work);
    bool adjustFormulaTexts(pugi::xml_node node, const std::string& home);
    bool adjustExtensions(pugi::xml_node extLst, const std::string& home);
    bool prepareTables(WorksheetWork& work);
    bool prepareDrawing(const std::string& drawingPart);
    bool prepareComments(const std::string& partName);
    bool prepareVml(const std::string& partName);
    bool preparePivotCaches();
    // Whether the edit changes the range behind a pivot cache's named source (a defined name or
    // a table).
    bool namedSourceHit(XmlPart& workbook, const std::string& name);
    bool prepareCharts();
    bool prepareDefinedNames();

    // A raw (escaped) formula text adjusted for the edit; false when it does not change.
    bool adjustRaw(const char* raw, const std::string& home, std::string& out,
                   bool forAttribute = false) const;
    bool touchesLine(int last) const { return last >= m_edit.first; }

    Package& m_package;
    std::vector<SheetPart> m_sheets;
    std::size_t m_edited;
    formula::SheetEdit m_edit;
    std::string m_editedName;
    std::string m_workbookPart;
    std::vector<std::string> m_drawingParts; // drawings of every sheet, for their charts

    std::map<std::string, std::string> m_worksheetTexts;      // new worksheet parts
    std::map<std::string, std::string> m_partTexts;           // other new parts
    std::vector<std::pair<std::size_t, std::string>> m_names; // defined name position, raw text
    std::vector<std::string> m_replacedWorksheets;
    QString m_error;
    int m_adjustedFormulas = 0;
};

} // namespace corvane::automation::native
