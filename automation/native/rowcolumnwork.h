// What the files of one row or column edit share: the working copy of a worksheet and the
// helpers for raw XML text and attributes they all use. Internal to the edit; rowcolumnedit.h
// is its interface.
#pragma once

#include "rowcolumnedit.h"
#include "xmlpart.h"
#include "xmltext.h"

#include "automation/celladdress.h"

#include <pugixml.hpp>

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace corvane::automation::native {

void setAttribute(pugi::xml_node n, const char* name, const std::string& value);
void setText(pugi::xml_node n, const std::string& raw);
int intAttribute(pugi::xml_node n, const char* name, int fallback);
std::optional<RangeAddress> plainRange(const char* text);

struct RowColumnEdit::WorksheetWork
{
    std::size_t index = 0;
    bool edited = false;
    std::string home; // the sheet's name, for its unqualified references
    XmlPart copy;
    pugi::xml_node sheetData;
    bool changed = false;

    struct CellAt
    {
        pugi::xml_node node;
        int row = 0;
        int column = 0;
    };
    std::vector<CellAt> cells; // in document order
};

} // namespace corvane::automation::native
