// A worksheet part: its cell grid, what each cell holds and shows, and writing cells back.
// The sheet data (the bulk of the part) stays as raw text with an index of where each row and
// cell lies; a cell is parsed only when it is read, and an edited cell replaces its own bytes
// when the part is written. The rest of the part is an ordinary tree.
#pragma once

#include "cellgrid.h"
#include "text/celltext.h"
#include "xmlpart.h"

#include "automation/celladdress.h"
#include "automation/cellvalue.h"

#include <QString>

#include <map>
#include <string>
#include <vector>

namespace corvane::automation::native {

class CellFormats;
class SearchPattern;
class SharedStrings;

class Worksheet : public XmlPart
{
public:
    bool load(const std::string& partName, std::string data) override;
    std::string serialize() const override;
    // Whether `test` holds for any piece of the part as it is to be stored (the text around the
    // cells, the cells as loaded, the cells as edited). Pieces an edit replaced are still tested.
    // Much cheaper than serialize() for a large sheet.
    bool anyPiece(bool (*test)(std::string_view)) const;

    // The workbook's shared strings (null when it has none: new texts are then stored inline).
    void setSharedStrings(SharedStrings* strings) { m_strings = strings; }

    // The number formats the cells' styles name (null: every number shows in General).
    void setCellFormats(CellFormats* formats) { m_formats = formats; }

    const CellGrid& grid() const { return m_grid; }
    // The start tag of a row as it will be written (its height and hidden attributes), empty for
    // a row the engine added.
    std::string_view rowStartTag(const GridRow& row) const
    {
        return row.added ? std::string_view() : rowTag(row);
    }
    // Bounding box of the cells present; A1 alone when there are none.
    RangeAddress usedRange() const;

    // The value the cell holds (for a formula, its cached result).
    CellValue value(const GridCell& cell) const;
    // The formula text without "=", for formula cells, shared-formula members and the cells of
    // an array formula. False for constants and empty cells.
    bool formula(const GridCell& cell, int row, QString& out) const;
    // The text the cell shows (numbers through their style's number format) or its formula-bar
    // text (formulas: "=" + formula, or the constant as typed).
    QString displayText(const GridCell& cell) const;
    QString formulaBarText(const GridCell& cell, int row) const;
    // A constant number (no formula, not in an array formula): its texts are only ever those a
    // number shows.
    bool isNumberConstant(const GridCell& cell, int row) const;
    // The shared string a constant cell shows (with `formulas`, also the one a formula cell
    // holds as its result), -1 for any other cell.
    int sharedStringIndex(const GridCell& cell, bool formulas = false) const;
    // Whether raw sheet text holds rich-text runs (<r>, with or without a prefix): an inline
    // string split into runs may show a find text that no stretch of its bytes spells.
    static bool holdsTextRuns(std::string_view xml);
    // False only when the cell's formula-bar text cannot match `pattern` (one that needs stored
    // text): its bytes do not hold the stored piece, it is no shared string among `strings` (the
    // matching ones by index; null: any may match), its text is not split into runs, and its
    // text is not made from another cell's (a shared formula moved, a member of an array
    // formula). `places` are bytePlaces().
    bool mayMatch(const GridCell& cell, int row, const SearchPattern& pattern,
                  const std::vector<bool>* strings, const std::vector<std::size_t>& places) const;
    // Where in the raw sheet data a cell as loaded may hold `pattern` (SearchPattern::placesIn):
    // the sheet is searched once rather than cell by cell, and once for a find and the replace
    // after it. Edited cells are tested on their own.
    const std::vector<std::size_t>& bytePlaces(const SearchPattern& pattern) const;

    // Stores typed content in a cell, creating it when needed. A shared formula the cell takes
    // part in is first written out in full in every member, so that no other cell changes.
    // False (with error()) when the cell is part of an array formula of several cells.
    bool write(int row, int column, const CellInput& input);
    // Protection as the application applies it: whether the sheet is protected, whether its
    // drawing objects are, and the style index (into cellXfs) that decides whether a cell is
    // locked: the cell's own, else its row's or column's, else 0.
    bool isProtected() const;
    bool protectsObjects() const;
    int cellStyle(int row, int column) const;
    bool isArrayMaster(int row, int column) const;
    bool isInArray(int row, int column) const;
    // The formula of an array formula's top-left cell, for the whole array.
    void setArrayFormula(int row, int column, const QString& formula);

protected:
    bool afterLoad() override;

private:
    struct SharedGroup
    {
        int row = 0, column = 0; // master, 0 when the group has none
        std::string text;        // master formula, decoded UTF-8
        std::vector<std::pair<int, int>> members;
    };
    struct ArrayGroup
    {
        RangeAddress ref;
        std::string text;
    };

    bool scanSheetData();
    bool quickCell(const GridCell& cell, std::string_view& type, std::string_view& raw) const;
    CellValue valueOf(std::string_view type, const std::string& raw, bool hasValue) const;
    void noteFormula(pugi::xml_node cell, int row, int column);
    std::string_view cellXml(const GridCell& cell) const;
    // Parses one cell into the scratch tree (valid until the next parse); empty when malformed.
    pugi::xml_node parseCell(const GridCell& cell) const;
    void storeCell(GridCell& cell, pugi::xml_node node);
    std::string_view rowTag(const GridRow& row) const;
    GridCell& createCell(int row, int column);
    void unshare(const std::string& si);
    void setText(pugi::xml_node element, const std::string& raw);
    pugi::xml_node addCellChild(pugi::xml_node cell, const char* local);
    void growDimension(int row, int column);
    std::string styleForNewCell(const GridRow& row, int column) const;
    std::string rawText(pugi::xml_node element) const;
    int styleIndex(const GridCell& cell) const;
    QString valueText(const GridCell& cell, bool formatted) const;

    CellGrid m_grid;
    SharedStrings* m_strings = nullptr;
    CellFormats* m_formats = nullptr;
    std::string m_content;            // raw text between <sheetData> and </sheetData>
    std::vector<std::string> m_edits; // replacement cells and row tags
    mutable pugi::xml_document m_scratch;
    std::string m_rowName, m_cellName;
    RangeAddress m_used{0, 0, 0, 0};
    std::map<std::string, SharedGroup> m_shared;
    std::vector<ArrayGroup> m_arrays;
    mutable std::string m_placesPiece; // the stored piece m_places were found for
    mutable std::vector<std::size_t> m_places;
    mutable std::string m_valueOpen, m_valueClose; // <v> and </v> with the part's prefix
    mutable bool m_placesFound = false;
};

} // namespace corvane::automation::native
