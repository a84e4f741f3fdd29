// A worksheet part: its cell grid, what each cell holds and shows, and writing cells back into
// the tree while the rest of the part stays as it was read.
#pragma once

#include "cellgrid.h"
#include "celltext.h"
#include "xmlpart.h"

#include "automation/celladdress.h"
#include "automation/cellvalue.h"

#include <QString>

#include <map>
#include <string>
#include <vector>

namespace corvane::automation::native {

class SharedStrings;

class Worksheet : public XmlPart
{
public:
    // The workbook's shared strings (null when it has none: new texts are then stored inline).
    void setSharedStrings(SharedStrings* strings) { m_strings = strings; }

    const CellGrid& grid() const { return m_grid; }
    // Bounding box of the cells present; A1 alone when there are none.
    RangeAddress usedRange() const;

    // The value the cell holds (for a formula, its cached result).
    CellValue value(pugi::xml_node cell) const;
    // The formula text without "=", for formula cells, shared-formula members and the cells of
    // an array formula. False for constants and empty cells.
    bool formula(pugi::xml_node cell, int row, int column, QString& out) const;
    // The text the cell shows (values) or its formula-bar text (formulas: "=" + formula, or
    // the constant as typed).
    QString displayText(pugi::xml_node cell) const;
    QString formulaBarText(pugi::xml_node cell, int row, int column) const;

    // Stores typed content in a cell, creating it when needed. A shared formula the cell takes
    // part in is first written out in full in every member, so that no other cell changes.
    // False (with error()) when the cell is part of an array formula of several cells.
    bool write(int row, int column, const CellInput& input);
    // The formula of an array formula's top-left cell, for the whole array.
    bool isArrayMaster(int row, int column) const;
    bool isInArray(int row, int column) const;
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

    pugi::xml_node createCell(int row, int column);
    pugi::xml_node addCellChild(pugi::xml_node cell, const char* local);
    void unshare(const std::string& si);
    void setText(pugi::xml_node element, const std::string& raw);
    void growDimension(int row, int column);
    std::string styleForNewCell(const GridRow& row, int column) const;
    std::string rawText(pugi::xml_node element) const;

    CellGrid m_grid;
    SharedStrings* m_strings = nullptr;
    pugi::xml_node m_sheetData;
    RangeAddress m_used{0, 0, 0, 0};
    std::map<std::string, SharedGroup> m_shared;
    std::vector<ArrayGroup> m_arrays;
};

} // namespace corvane::automation::native
