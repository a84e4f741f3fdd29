// Reading a worksheet's cells: what each holds and shows, mostly straight from its raw text, and
// the cheap tests a search runs before it reads a cell at all.
#include "worksheet.h"
#include "worksheetscan.h"

#include "cellformats.h"
#include "sharedstrings.h"
#include "text/searchpattern.h"
#include "xmltext.h"

#include "automation/native/formula/formularewriter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace corvane::automation::native {

// The common cell shapes, read without a tree: a start tag and at most a plain <v>. False for
// anything else (formulas, inline strings, unusual markup), which takes the full parse.
bool Worksheet::quickCell(const GridCell& cell, std::string_view& type, std::string_view& raw) const
{
    const std::string_view xml = cellXml(cell);
    bool selfClosing = false;
    const size_t te = tagEnd(xml, 0, selfClosing);
    if (te == std::string_view::npos)
        return false;
    type = std::string_view();
    attributeValue(xml.substr(0, te), "t", type);
    raw = std::string_view();
    if (selfClosing)
        return true;
    if (type == "inlineStr") {
        // <is><t>text</t></is>, the shape nearly every writer uses.
        const std::string p = m_prefix;
        const std::string head = "<" + p + "is><" + p + "t", tail = "</" + p + "t></" + p + "is>";
        if (xml.compare(te, head.size(), head) != 0)
            return false;
        size_t textBegin = te + head.size();
        if (xml.compare(textBegin, 1, ">") == 0)
            textBegin += 1;
        else if (xml.compare(textBegin, 22, " xml:space=\"preserve\">") == 0)
            textBegin += 22;
        else
            return false;
        const size_t textEnd = xml.find('<', textBegin);
        if (textEnd == std::string_view::npos || xml.compare(textEnd, tail.size(), tail) != 0 ||
            xml.find('<', textEnd + tail.size()) != xml.rfind('<'))
            return false;
        raw = xml.substr(textBegin, textEnd - textBegin);
        return true;
    }
    if (m_valueOpen.empty()) {
        m_valueOpen = "<" + m_prefix + "v>";
        m_valueClose = "</" + m_prefix + "v>";
    }
    const std::string& open = m_valueOpen;
    const std::string& close = m_valueClose;
    // The first tag after the cell's opens the value, the next closes it.
    const size_t v = xml.find('<', te);
    if (v == std::string_view::npos || xml.compare(v, open.size(), open) != 0)
        return false;
    const size_t vEnd = xml.find('<', v + open.size());
    if (vEnd == std::string_view::npos || xml.compare(vEnd, close.size(), close) != 0)
        return false;
    // Only the cell's end may follow.
    const size_t after = vEnd + close.size();
    if (xml.find('<', after) != xml.rfind('<'))
        return false;
    raw = xml.substr(v + open.size(), vEnd - v - open.size());
    return true;
}

CellValue Worksheet::valueOf(std::string_view type, const std::string& raw, bool hasValue) const
{
    if (!hasValue)
        return CellValue::empty();
    if (type == "s") {
        const int index = boundedInt(raw.c_str(), 0, std::numeric_limits<int>::max(), -1);
        return CellValue::fromText(m_strings ? m_strings->text(index) : QString());
    }
    if (type == "str" || type == "inlineStr")
        return CellValue::fromText(decodeCellText(raw));
    if (type == "b")
        return CellValue::fromBoolean(boundedInt(raw.c_str(), std::numeric_limits<int>::min(),
                                                 std::numeric_limits<int>::max(), 0) != 0);
    if (type == "e")
        return CellValue::fromError(decodeXml(raw));
    if (type == "d")
        return CellValue::fromText(decodeXml(raw));
    if (raw.empty())
        return CellValue::empty();
    char* end = nullptr;
    const double d = std::strtod(raw.c_str(), &end);
    if (end == raw.c_str())
        return CellValue::fromText(decodeXml(raw));
    return CellValue::fromNumber(d);
}

CellValue Worksheet::value(const GridCell& gridCell) const
{
    std::string_view type, quickRaw;
    if (quickCell(gridCell, type, quickRaw))
        return valueOf(type, std::string(quickRaw), quickRaw.data() != nullptr);
    const pugi::xml_node cell = parseCell(gridCell);
    if (!cell)
        return CellValue::empty();
    const char* t = cell.attribute("t").value();
    if (std::strcmp(t, "inlineStr") == 0) {
        const pugi::xml_node is = child(cell, "is");
        std::string raw;
        const std::string tName = name("t"), rName = name("r");
        for (pugi::xml_node c = is.first_child(); c; c = c.next_sibling()) {
            if (tName == c.name())
                raw += rawText(c);
            else if (rName == c.name())
                raw += rawText(c.child(tName.c_str()));
        }
        return CellValue::fromText(decodeCellText(raw));
    }
    const pugi::xml_node v = child(cell, "v");
    return valueOf(t, v ? rawText(v) : std::string(), bool(v));
}

bool Worksheet::formula(const GridCell& gridCell, int row, QString& out) const
{
    const int column = gridCell.column;
    std::string_view type, raw;
    pugi::xml_node f;
    if (!quickCell(gridCell, type, raw))
        f = child(parseCell(gridCell), "f");
    if (f) {
        const char* t = f.attribute("t").value();
        if (std::strcmp(t, "shared") == 0) {
            const auto it = m_shared.find(f.attribute("si").value());
            if (it == m_shared.end() || !it->second.row)
                return false;
            const SharedGroup& g = it->second;
            if (g.row == row && g.column == column)
                out = QString::fromStdString(g.text);
            else
                out =
                    QString::fromStdString(formula::translateFormula(g.text, row - g.row, column - g.column));
            return true;
        }
        if (std::strcmp(t, "dataTable") == 0)
            return false;
        out = decodeXml(rawText(f));
        return true;
    }
    for (const ArrayGroup& a : m_arrays) {
        if (a.ref.contains({row, column})) {
            out = QString::fromStdString(a.text);
            return true;
        }
    }
    return false;
}

QString Worksheet::displayText(const GridCell& cell) const
{
    return valueText(cell, true);
}

QString Worksheet::valueText(const GridCell& cell, bool formatted) const
{
    const CellValue v = value(cell);
    switch (v.kind) {
    case CellValue::Kind::Empty:
        return {};
    case CellValue::Kind::Text:
    case CellValue::Kind::Error:
        return v.text;
    case CellValue::Kind::Number:
        if (!formatted)
            return generalNumberText(v.number);
        if (m_formats && m_formats->any()) {
            if (const NumberFormat* f = m_formats->format(styleIndex(cell)))
                return f->format(v.number, m_formats->date1904());
        }
        return generalDisplayText(v.number);
    case CellValue::Kind::Boolean:
        return v.boolean ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    }
    return {};
}

int Worksheet::styleIndex(const GridCell& cell) const
{
    const std::string_view xml = cellXml(cell);
    bool selfClosing = false;
    const size_t te = tagEnd(xml, 0, selfClosing);
    std::string_view s;
    if (te == std::string_view::npos || !attributeValue(xml.substr(0, te), "s", s))
        return 0;
    int index = 0;
    for (char c : s) {
        if (c < '0' || c > '9' || index > 1000000)
            return 0;
        index = index * 10 + (c - '0');
    }
    return index;
}

QString Worksheet::formulaBarText(const GridCell& cell, int row) const
{
    QString f;
    if (formula(cell, row, f))
        return QLatin1Char('=') + f;
    return valueText(cell, false);
}

bool Worksheet::isNumberConstant(const GridCell& cell, int row) const
{
    std::string_view type, raw;
    if (!quickCell(cell, type, raw) || !(type.empty() || type == "n") || raw.empty())
        return false;
    // A number that does not parse shows its stored text; one that starts like this parses.
    size_t at = 0;
    if (raw[at] == '-' || raw[at] == '+')
        ++at;
    if (at < raw.size() && raw[at] == '.')
        ++at;
    if (at >= raw.size() || raw[at] < '0' || raw[at] > '9')
        return false;
    return std::none_of(m_arrays.begin(), m_arrays.end(), [&](const ArrayGroup& a) {
        return a.ref.contains({row, cell.column});
    });
}

namespace {

// Whether some attribute of a start tag has the value "s" (t="s" among them): a cheap first test
// for a shared-string cell.
bool anyValueS(std::string_view tag)
{
    for (size_t i = tag.find('s'); i != std::string_view::npos; i = tag.find('s', i + 1)) {
        if (i > 0 && i + 1 < tag.size() && (tag[i - 1] == '"' || tag[i - 1] == '\'') &&
            tag[i + 1] == tag[i - 1])
            return true;
    }
    return false;
}

// A shared string's index as atoi reads it (blanks, a sign, then digits; 0 without digits),
// without copying the text; -1 past the range of int.
int stringIndex(std::string_view raw)
{
    size_t i = 0;
    while (i < raw.size() && (raw[i] == ' ' || (raw[i] >= '\t' && raw[i] <= '\r')))
        ++i;
    const bool negative = i < raw.size() && raw[i] == '-';
    if (i < raw.size() && (raw[i] == '-' || raw[i] == '+'))
        ++i;
    long long value = 0;
    for (; i < raw.size() && raw[i] >= '0' && raw[i] <= '9'; ++i) {
        value = value * 10 + (raw[i] - '0');
        if (value > std::numeric_limits<int>::max())
            return -1;
    }
    return negative ? int(-value) : int(value);
}

} // namespace

int Worksheet::sharedStringIndex(const GridCell& cell, bool formulas) const
{
    const std::string_view xml = cellXml(cell);
    if (!anyValueS(xml.substr(0, xml.find('>'))))
        return -1;
    std::string_view type, raw;
    if (quickCell(cell, type, raw))
        return type == "s" && raw.data() ? stringIndex(raw) : -1;
    const pugi::xml_node c = parseCell(cell);
    if (!c || !attrIs(c, "t", "s") || (!formulas && child(c, "f")))
        return -1;
    const pugi::xml_node v = child(c, "v");
    return v ? std::atoi(rawText(v).c_str()) : -1;
}

const std::vector<std::size_t>& Worksheet::bytePlaces(const SearchPattern& pattern) const
{
    // The raw sheet data never changes: what was found for a piece holds as long as the part.
    if (!m_placesFound || m_placesPiece != pattern.storedPiece()) {
        m_places = pattern.placesIn(m_content);
        m_placesPiece = pattern.storedPiece();
        m_placesFound = true;
    }
    return m_places;
}

bool Worksheet::holdsTextRuns(std::string_view xml)
{
    // <r>, <r ...>, <x:r>, <x:r ...>: one pass over the r's rather than one per spelling.
    for (size_t i = xml.find('r', 1); i != std::string_view::npos && i + 1 < xml.size();
         i = xml.find('r', i + 1)) {
        if ((xml[i - 1] == '<' || xml[i - 1] == ':') && (xml[i + 1] == '>' || xml[i + 1] == ' '))
            return true;
    }
    return false;
}

bool Worksheet::mayMatch(const GridCell& cell, int row, const SearchPattern& pattern,
                         const std::vector<bool>* strings, const std::vector<std::size_t>& places) const
{
    const std::string_view xml = cellXml(cell);
    if (cell.edit >= 0) {
        if (pattern.mayBeIn(xml))
            return true;
    } else {
        const auto place = std::lower_bound(places.begin(), places.end(), std::size_t(cell.begin));
        if (place != places.end() && *place < cell.end)
            return true;
    }
    // Every member of a shared group was noted when the sheet was read.
    if (!m_shared.empty() && xml.find("shared") != std::string_view::npos)
        return true;
    if (std::any_of(m_arrays.begin(), m_arrays.end(), [&](const ArrayGroup& a) {
            return a.ref.contains({row, cell.column});
        }))
        return true;
    const std::string_view tag = xml.substr(0, xml.find('>'));
    std::string_view type, raw;
    if (!quickCell(cell, type, raw)) // other shapes: rich text runs among them
        return holdsTextRuns(xml) || anyValueS(tag);
    if (type != "s")
        return anyValueS(tag); // no runs in a cell of the plain shape
    if (!strings)
        return true;
    const int index = stringIndex(raw);
    return index < 0 || static_cast<size_t>(index) >= strings->size() ||
           (*strings)[static_cast<size_t>(index)];
}

} // namespace corvane::automation::native
