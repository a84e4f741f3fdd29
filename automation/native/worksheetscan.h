// The raw-text readers the Worksheet files share: the sheet data stays text, so the tags and
// attributes of its rows and cells are read straight from it, without a tree.
#pragma once

#include "cellgrid.h"
#include "xmltext.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace corvane::automation::native {

// Stands for the sheet data inside the tree of the rest of the part.
const char* const kRowsPlaceholder = "\x01corvane-sheet-data\x01";

inline bool attrIs(pugi::xml_node n, const char* attr, const char* value)
{
    return std::strcmp(n.attribute(attr).value(), value) == 0;
}

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The raw value of attribute `name` in a start tag; false when absent.
inline bool attributeValue(std::string_view tag, std::string_view name, std::string_view& value)
{
    size_t i = 1;
    while (i < tag.size() && !isSpace(tag[i]) && tag[i] != '>' && tag[i] != '/')
        ++i;
    while (i < tag.size()) {
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        const size_t nameBegin = i;
        while (i < tag.size() && !isSpace(tag[i]) && tag[i] != '=' && tag[i] != '>' && tag[i] != '/')
            ++i;
        const std::string_view attr = tag.substr(nameBegin, i - nameBegin);
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (attr.empty() || i >= tag.size() || tag[i] != '=')
            return false;
        ++i;
        while (i < tag.size() && isSpace(tag[i]))
            ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
            return false;
        const char quote = tag[i++];
        const size_t valueBegin = i;
        while (i < tag.size() && tag[i] != quote)
            ++i;
        if (attr == name) {
            value = tag.substr(valueBegin, i - valueBegin);
            return true;
        }
        ++i;
    }
    return false;
}

inline bool parseRef(std::string_view text, RangeAddress& out)
{
    const size_t colon = text.find(':');
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (colon == std::string_view::npos) {
        if (!parseCellReference(text, r1, c1))
            return false;
        out = {r1, c1, r1, c1};
        return true;
    }
    if (!parseCellReference(text.substr(0, colon), r1, c1) ||
        !parseCellReference(text.substr(colon + 1), r2, c2))
        return false;
    out = {std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
    return true;
}

} // namespace corvane::automation::native
