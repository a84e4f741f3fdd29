#include "worksheet.h"

#include "cellformats.h"
#include "text/searchpattern.h"
#include "sharedstrings.h"
#include "xmlelement.h"
#include "xmltext.h"

#include "automation/native/formula/formularewriter.h"

#include <QLocale>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace corvane::automation::native {

namespace {

// Stands for the sheet data inside the tree of the rest of the part.
const char* const kRowsPlaceholder = "\x01corvane-sheet-data\x01";

bool attrIs(pugi::xml_node n, const char* attr, const char* value)
{
    return std::strcmp(n.attribute(attr).value(), value) == 0;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether an element named `qname` starts at s[pos].
bool startsElement(std::string_view s, size_t pos, std::string_view qname)
{
    if (pos + 1 + qname.size() >= s.size() || s[pos] != '<' || s.compare(pos + 1, qname.size(), qname) != 0)
        return false;
    const char next = s[pos + 1 + qname.size()];
    return isSpace(next) || next == '>' || next == '/';
}

// The offset after the '>' of the tag starting at s[pos], quotes respected; npos when unclosed.
size_t tagEnd(std::string_view s, size_t pos, bool& selfClosing)
{
    char quote = 0;
    for (size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            selfClosing = s[i - 1] == '/';
            return i + 1;
        } else if (c == '<') {
            return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

// The end of the close tag "</qname>" at or after pos (whitespace allowed before '>').
size_t closeTagEnd(std::string_view s, size_t pos, std::string_view qname, size_t& closeBegin)
{
    const std::string close = "</" + std::string(qname);
    for (size_t at = s.find(close, pos); at != std::string_view::npos; at = s.find(close, at + 1)) {
        size_t i = at + close.size();
        while (i < s.size() && isSpace(s[i]))
            ++i;
        if (i < s.size() && s[i] == '>') {
            closeBegin = at;
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// Skips whitespace, comments and processing instructions.
size_t skipMisc(std::string_view s, size_t pos)
{
    for (;;) {
        while (pos < s.size() && isSpace(s[pos]))
            ++pos;
        if (s.compare(pos, 4, "<!--") == 0) {
            const size_t e = s.find("-->", pos + 4);
            if (e == std::string_view::npos)
                return s.size() + 1;
            pos = e + 3;
        } else if (s.compare(pos, 2, "<?") == 0) {
            const size_t e = s.find("?>", pos + 2);
            if (e == std::string_view::npos)
                return s.size() + 1;
            pos = e + 2;
        } else {
            return pos;
        }
    }
}

// The raw value of attribute `name` in a start tag; false when absent.
bool attributeValue(std::string_view tag, std::string_view name, std::string_view& value)
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

bool parseRowNumber(std::string_view text, int& row)
{
    if (text.empty() || text.size() > 7)
        return false;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > kMaxRows)
        return false;
    row = n;
    return true;
}

bool parseRef(std::string_view text, RangeAddress& out)
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

} // namespace

bool Worksheet::load(const std::string& partName, std::string data)
{
    // The sheet data is cut out before the rest is parsed as a tree.
    if (!toUtf8(partName, data, m_error))
        return false;
    std::string prefix;
    {
        const size_t i = skipMisc(data, data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
        if (i < data.size() && data[i] == '<') {
            size_t e = i + 1;
            while (e < data.size() && !isSpace(data[e]) && data[e] != '>' && data[e] != '/')
                ++e;
            const std::string rootName = data.substr(i + 1, e - i - 1);
            prefix = namePrefix(rootName);
            // As the tree will see it: the prefix bound to SpreadsheetML on the root, if any.
            bool closed = false;
            const size_t te = tagEnd(data, i, closed);
            const std::string_view tag =
                std::string_view(data).substr(i, te == std::string::npos ? 0 : te - i);
            const std::string needle = std::string("\"") + kSpreadsheetNamespace + '"';
            for (size_t at = tag.find(needle); at != std::string_view::npos; at = tag.find(needle, at + 1)) {
                size_t n = at;
                while (n > 0 && (tag[n - 1] == '=' || isSpace(tag[n - 1])))
                    --n;
                size_t b = n;
                while (b > 0 && !isSpace(tag[b - 1]))
                    --b;
                const std::string_view attr = tag.substr(b, n - b);
                if (attr == "xmlns") {
                    prefix.clear();
                    break;
                }
                if (attr.substr(0, 6) == "xmlns:") {
                    prefix = std::string(attr.substr(6)) + ':';
                    break;
                }
            }
        }
    }
    m_rowName = prefix + "row";
    m_cellName = prefix + "c";
    const std::string sheetData = prefix + "sheetData";
    size_t start = std::string::npos;
    for (size_t at = data.find("<" + sheetData); at != std::string::npos;
         at = data.find("<" + sheetData, at + 1)) {
        if (startsElement(data, at, sheetData)) {
            start = at;
            break;
        }
    }
    if (start != std::string::npos) {
        bool selfClosing = false;
        const size_t contentBegin = tagEnd(data, start, selfClosing);
        if (contentBegin == std::string::npos) {
            m_error = QStringLiteral("damaged: malformed XML in %1").arg(QString::fromStdString(partName));
            return false;
        }
        size_t closeBegin = contentBegin, after = contentBegin;
        if (!selfClosing) {
            after = closeTagEnd(data, contentBegin, sheetData, closeBegin);
            if (after == std::string::npos) {
                m_error = QStringLiteral("damaged: malformed XML in %1 (sheet data not closed)")
                              .arg(QString::fromStdString(partName));
                return false;
            }
        }
        std::string shell;
        shell.reserve(data.size() - (closeBegin - contentBegin) + 64);
        if (selfClosing) {
            shell.append(data, 0, contentBegin - 2);
            shell += '>';
        } else {
            shell.append(data, 0, contentBegin);
        }
        shell += kRowsPlaceholder;
        if (selfClosing)
            shell += "</" + sheetData + ">";
        else
            shell.append(data, closeBegin, after - closeBegin);
        shell.append(data, after, std::string::npos);
        if (!selfClosing) {
            // Cut out in place: a copy would hold the sheet data twice at once.
            data.resize(closeBegin);
            data.erase(0, contentBegin);
            m_content = std::move(data);
        }
        data = std::move(shell);
    }
    return XmlPart::load(partName, std::move(data));
}

bool Worksheet::afterLoad()
{
    if (!scanSheetData()) {
        if (m_error.isEmpty())
            m_error =
                QStringLiteral("damaged: malformed sheet data in %1").arg(QString::fromStdString(partName()));
        return false;
    }
    m_grid.sort();
    return true;
}

bool Worksheet::scanSheetData()
{
    const std::string_view s = m_content;
    const std::string fName = m_prefix + "f";
    size_t pos = 0;
    int rowNumber = 0;
    bool first = true;
    // A row's cells are gathered here and then copied at their exact size: grown one by one they
    // would hold up to twice the room, which counts on sheets of millions of cells.
    std::vector<GridCell> cells;
    while ((pos = skipMisc(s, pos)) < s.size()) {
        if (!startsElement(s, pos, m_rowName))
            return false;
        GridRow row;
        row.begin = static_cast<std::uint32_t>(pos);
        bool selfClosing = false;
        const size_t te = tagEnd(s, pos, selfClosing);
        if (te == std::string_view::npos)
            return false;
        row.tagEnd = static_cast<std::uint32_t>(te);
        std::string_view r;
        if (attributeValue(s.substr(pos, te - pos), "r", r)) {
            if (!parseRowNumber(r, rowNumber)) {
                m_error = QStringLiteral("damaged: %1 numbers a row outside the sheet")
                              .arg(QString::fromStdString(partName()));
                return false;
            }
        } else if (++rowNumber > kMaxRows) {
            return false;
        }
        row.row = rowNumber;
        if (selfClosing) {
            row.closeBegin = row.end = row.tagEnd;
            m_grid.rows().push_back(std::move(row));
            pos = te;
            continue;
        }
        size_t p = te;
        int column = 0;
        for (;;) {
            p = skipMisc(s, p);
            if (p >= s.size())
                return false;
            if (s.compare(p, 2, "</") == 0) {
                size_t closeBegin = 0;
                const size_t e = closeTagEnd(s, p, m_rowName, closeBegin);
                if (e == std::string_view::npos || closeBegin != p)
                    return false;
                row.closeBegin = static_cast<std::uint32_t>(p);
                row.end = static_cast<std::uint32_t>(e);
                p = e;
                break;
            }
            if (s[p] != '<')
                return false;
            bool cellClosed = false;
            const size_t cte = tagEnd(s, p, cellClosed);
            if (cte == std::string_view::npos)
                return false;
            if (!startsElement(s, p, m_cellName)) {
                // Another element of the row (its extLst): skipped whole.
                size_t nameEnd = p + 1;
                while (nameEnd < s.size() && !isSpace(s[nameEnd]) && s[nameEnd] != '>' && s[nameEnd] != '/')
                    ++nameEnd;
                size_t ignored = 0;
                p = cellClosed ? cte : closeTagEnd(s, cte, s.substr(p + 1, nameEnd - p - 1), ignored);
                if (p == std::string_view::npos)
                    return false;
                continue;
            }
            size_t ce = cte, ignored = 0;
            if (!cellClosed && (ce = closeTagEnd(s, cte, m_cellName, ignored)) == std::string_view::npos)
                return false;
            int cr = rowNumber, cc = column + 1;
            std::string_view ref;
            if (attributeValue(s.substr(p, cte - p), "r", ref) &&
                (!parseCellReference(ref, cr, cc) || cr != rowNumber)) {
                m_error = QStringLiteral("damaged: %1 has a cell with the reference \"%2\" in row %3")
                              .arg(QString::fromStdString(partName()),
                                   QString::fromUtf8(ref.data(), int(ref.size())))
                              .arg(rowNumber);
                return false;
            }
            column = cc;
            GridCell cell;
            cell.column = cc;
            cell.begin = static_cast<std::uint32_t>(p);
            cell.end = static_cast<std::uint32_t>(ce);
            cells.push_back(cell);
            if (first) {
                m_used = {cr, cc, cr, cc};
                first = false;
            } else {
                m_used.firstRow = std::min(m_used.firstRow, cr);
                m_used.lastRow = std::max(m_used.lastRow, cr);
                m_used.firstColumn = std::min(m_used.firstColumn, cc);
                m_used.lastColumn = std::max(m_used.lastColumn, cc);
            }
            // Formula cells are read now for their shared and array groups.
            for (size_t f = s.find('<', cte); f < ce; f = s.find('<', f + 1)) {
                if (startsElement(s, f, fName)) {
                    noteFormula(parseCell(cell), cr, cc);
                    break;
                }
            }
            p = ce;
        }
        row.cells.assign(cells.begin(), cells.end());
        cells.clear();
        m_grid.rows().push_back(std::move(row));
        pos = p;
    }
    return pos == s.size();
}

void Worksheet::noteFormula(pugi::xml_node cell, int row, int column)
{
    const pugi::xml_node f = child(cell, "f");
    if (!f)
        return;
    const char* t = f.attribute("t").value();
    if (std::strcmp(t, "shared") == 0) {
        SharedGroup& g = m_shared[f.attribute("si").value()];
        g.members.emplace_back(row, column);
        if (f.attribute("ref") || (!g.row && f.first_child())) {
            g.row = row;
            g.column = column;
            g.text = decodeXml(rawText(f)).toStdString();
        }
    } else if (std::strcmp(t, "array") == 0) {
        ArrayGroup a;
        if (!parseRef(f.attribute("ref").value(), a.ref))
            a.ref = {row, column, row, column};
        a.text = decodeXml(rawText(f)).toStdString();
        m_arrays.push_back(std::move(a));
    }
}

std::string_view Worksheet::cellXml(const GridCell& cell) const
{
    if (cell.edit >= 0)
        return m_edits[static_cast<size_t>(cell.edit)];
    return std::string_view(m_content).substr(cell.begin, cell.end - cell.begin);
}

pugi::xml_node Worksheet::parseCell(const GridCell& cell) const
{
    const std::string_view xml = cellXml(cell);
    if (!m_scratch.load_buffer(xml.data(), xml.size(), kParseFlags, pugi::encoding_utf8))
        return {};
    return m_scratch.document_element();
}

pugi::xml_node Worksheet::parseFragment(const std::string& xml) const
{
    if (!m_scratch.load_buffer(xml.data(), xml.size(), kParseFlags, pugi::encoding_utf8))
        return {};
    return m_scratch.document_element();
}

void Worksheet::storeCell(GridCell& cell, pugi::xml_node node)
{
    std::string xml = print(node);
    if (cell.edit >= 0) {
        m_edits[static_cast<size_t>(cell.edit)] = std::move(xml);
    } else {
        cell.edit = static_cast<int>(m_edits.size());
        m_edits.push_back(std::move(xml));
    }
    setDirty();
}

std::string_view Worksheet::rowTag(const GridRow& row) const
{
    if (row.tagEdit >= 0)
        return m_edits[static_cast<size_t>(row.tagEdit)];
    return std::string_view(m_content).substr(row.begin, row.tagEnd - row.begin);
}

std::string Worksheet::rawText(pugi::xml_node element) const
{
    pugi::xml_node first = element.first_child();
    if (first && !first.next_sibling() && first.type() == pugi::node_pcdata)
        return first.value();
    std::string raw;
    for (pugi::xml_node c = first; c; c = c.next_sibling()) {
        if (c.type() == pugi::node_pcdata)
            raw += c.value();
        else if (c.type() == pugi::node_cdata)
            raw += encodeXml(QString::fromUtf8(c.value()));
    }
    return raw;
}

RangeAddress Worksheet::usedRange() const
{
    if (m_used.firstRow == 0)
        return {1, 1, 1, 1};
    return m_used;
}

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
    const std::string open = "<" + m_prefix + "v>", close = "</" + m_prefix + "v>";
    const size_t v = xml.find(open, te);
    if (v == std::string_view::npos || xml.find('<', te) != v)
        return false;
    const size_t vEnd = xml.find(close, v + open.size());
    if (vEnd == std::string_view::npos || xml.find('<', v + open.size()) != vEnd)
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

int Worksheet::sharedStringIndex(const GridCell& cell, bool formulas) const
{
    const std::string_view xml = cellXml(cell);
    const std::string_view tag = xml.substr(0, xml.find('>'));
    if (tag.find("\"s\"") == std::string_view::npos && tag.find("'s'") == std::string_view::npos)
        return -1;
    std::string_view type, raw;
    if (quickCell(cell, type, raw))
        return type == "s" && raw.data() ? std::atoi(std::string(raw).c_str()) : -1;
    const pugi::xml_node c = parseCell(cell);
    if (!c || !attrIs(c, "t", "s") || (!formulas && child(c, "f")))
        return -1;
    const pugi::xml_node v = child(c, "v");
    return v ? std::atoi(rawText(v).c_str()) : -1;
}

bool Worksheet::cellBytesMayHold(const SearchPattern& pattern) const
{
    return pattern.mayBeIn(m_content) ||
           std::any_of(m_edits.begin(), m_edits.end(),
                       [&](const std::string& e) { return pattern.mayBeIn(e); });
}

bool Worksheet::mayMatch(const GridCell& cell, int row, const SearchPattern& pattern,
                         const std::vector<bool>* strings, bool bytes) const
{
    const std::string_view xml = cellXml(cell);
    if ((bytes && pattern.mayBeIn(xml)) || xml.find("shared") != std::string_view::npos)
        return true;
    if (std::any_of(m_arrays.begin(), m_arrays.end(), [&](const ArrayGroup& a) {
            return a.ref.contains({row, cell.column});
        }))
        return true;
    const size_t tagClose = xml.find('>');
    const std::string_view tag = xml.substr(0, tagClose);
    if (tag.find("\"s\"") == std::string_view::npos && tag.find("'s'") == std::string_view::npos)
        return false;
    std::string_view type, raw;
    if (!strings || !quickCell(cell, type, raw) || type != "s")
        return true;
    const int index = std::atoi(std::string(raw).c_str());
    return index < 0 || static_cast<size_t>(index) >= strings->size() ||
           (*strings)[static_cast<size_t>(index)];
}

bool Worksheet::isInArray(int row, int column) const
{
    return std::any_of(m_arrays.begin(), m_arrays.end(), [&](const ArrayGroup& a) {
        return a.ref.contains({row, column}) && (a.ref.rowCount() > 1 || a.ref.columnCount() > 1);
    });
}

bool Worksheet::isArrayMaster(int row, int column) const
{
    return std::any_of(m_arrays.begin(), m_arrays.end(), [&](const ArrayGroup& a) {
        return a.ref.firstRow == row && a.ref.firstColumn == column;
    });
}

void Worksheet::setText(pugi::xml_node element, const std::string& raw)
{
    while (element.first_child())
        element.remove_child(element.first_child());
    element.append_child(pugi::node_pcdata).set_value(raw.c_str());
}

void Worksheet::setArrayFormula(int row, int column, const QString& text)
{
    GridCell* gridCell = m_grid.find(row, column);
    if (!gridCell)
        return;
    pugi::xml_node cell = parseCell(*gridCell);
    pugi::xml_node f = child(cell, "f");
    if (!f)
        return;
    setText(f, encodeXml(text));
    cell.remove_child(child(cell, "v"));
    cell.remove_attribute("t");
    storeCell(*gridCell, cell);
    for (ArrayGroup& a : m_arrays) {
        if (a.ref.firstRow == row && a.ref.firstColumn == column)
            a.text = text.toStdString();
    }
}

void Worksheet::unshare(const std::string& si)
{
    const auto it = m_shared.find(si);
    if (it == m_shared.end())
        return;
    const SharedGroup g = it->second;
    m_shared.erase(it);
    for (const auto& [r, c] : g.members) {
        GridCell* gridCell = m_grid.find(r, c);
        if (!gridCell)
            continue;
        pugi::xml_node cell = parseCell(*gridCell);
        pugi::xml_node f = child(cell, "f");
        if (!f || !attrIs(f, "t", "shared") || si != f.attribute("si").value())
            continue;
        if (g.row) {
            const std::string text = (r == g.row && c == g.column)
                                         ? g.text
                                         : formula::translateFormula(g.text, r - g.row, c - g.column);
            setText(f, encodeXml(QString::fromStdString(text)));
        }
        f.remove_attribute("t");
        f.remove_attribute("si");
        f.remove_attribute("ref");
        storeCell(*gridCell, cell);
    }
}

pugi::xml_node Worksheet::addCellChild(pugi::xml_node cell, const char* local)
{
    const pugi::xml_node ext = child(cell, "extLst");
    return ext ? cell.insert_child_before(name(local).c_str(), ext) : cell.append_child(name(local).c_str());
}

std::string Worksheet::styleForNewCell(const GridRow& row, int column) const
{
    if (!row.added) {
        const std::string_view tag = rowTag(row);
        std::string_view custom, style;
        if (attributeValue(tag, "customFormat", custom) && (custom == "1" || custom == "true") &&
            attributeValue(tag, "s", style))
            return std::string(style);
    }
    const pugi::xml_node cols = child(root(), "cols");
    const std::string colName = name("col");
    for (pugi::xml_node c = cols.child(colName.c_str()); c; c = c.next_sibling(colName.c_str())) {
        if (column >= c.attribute("min").as_int() && column <= c.attribute("max").as_int()) {
            if (const pugi::xml_attribute s = c.attribute("style"))
                return std::strcmp(s.value(), "0") == 0 ? std::string() : s.value();
            return {};
        }
    }
    return {};
}

bool Worksheet::isProtected() const
{
    const pugi::xml_node protection = child(root(), "sheetProtection");
    return protection && protection.attribute("sheet").as_bool();
}

bool Worksheet::protectsObjects() const
{
    return isProtected() && child(root(), "sheetProtection").attribute("objects").as_bool();
}

int Worksheet::cellStyle(int row, int column) const
{
    const auto index = [](std::string_view text) {
        int value = 0;
        for (char c : text) {
            if (c < '0' || c > '9' || value > 100000000)
                return -1; // no style the workbook can have: taken as locked
            value = value * 10 + (c - '0');
        }
        return text.empty() ? -1 : value;
    };
    if (const GridCell* c = m_grid.find(row, column)) {
        const std::string_view xml = cellXml(*c);
        bool selfClosing = false;
        const size_t te = tagEnd(xml, 0, selfClosing);
        std::string_view style;
        if (te != std::string_view::npos && attributeValue(xml.substr(0, te), "s", style))
            return index(style);
        return 0;
    }
    const auto& rows = m_grid.rows();
    const auto it = m_grid.rowAtOrAfter(row);
    GridRow fresh;
    fresh.added = true; // no row element: the column's style decides
    const std::string style = styleForNewCell(it != rows.end() && it->row == row ? *it : fresh, column);
    return style.empty() ? 0 : index(style);
}

void Worksheet::growDimension(int row, int column)
{
    const bool wasEmpty = m_used.firstRow == 0;
    if (wasEmpty) {
        m_used = {row, column, row, column};
    } else {
        m_used.firstRow = std::min(m_used.firstRow, row);
        m_used.lastRow = std::max(m_used.lastRow, row);
        m_used.firstColumn = std::min(m_used.firstColumn, column);
        m_used.lastColumn = std::max(m_used.lastColumn, column);
    }
    pugi::xml_node dimension = child(root(), "dimension");
    if (!dimension)
        return;
    RangeAddress ref;
    if (!wasEmpty && parseRef(dimension.attribute("ref").value(), ref)) {
        ref.firstRow = std::min(ref.firstRow, row);
        ref.lastRow = std::max(ref.lastRow, row);
        ref.firstColumn = std::min(ref.firstColumn, column);
        ref.lastColumn = std::max(ref.lastColumn, column);
    } else {
        ref = m_used;
    }
    const std::string text = rangeName(ref).toStdString();
    pugi::xml_attribute a = dimension.attribute("ref");
    if (!a)
        a = dimension.append_attribute("ref");
    a.set_value(text.c_str());
}

GridCell& Worksheet::createCell(int row, int column)
{
    if (!child(root(), "sheetData")) {
        // A worksheet without sheet data (allowed when empty): it goes after the columns.
        pugi::xml_node after;
        for (const char* n : {"sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols"}) {
            if (pugi::xml_node c = child(root(), n))
                after = c;
        }
        pugi::xml_node sheetData = after ? root().insert_child_after(name("sheetData").c_str(), after)
                                         : root().prepend_child(name("sheetData").c_str());
        sheetData.append_child(pugi::node_pcdata).set_value(kRowsPlaceholder);
    }
    GridRow* gridRow = m_grid.findRow(row);
    if (!gridRow) {
        GridRow added;
        added.row = row;
        added.added = true;
        gridRow = &m_grid.insertRow(std::move(added));
    }
    std::string xml = "<" + m_cellName + " r=\"" + cellReference(row, column) + "\"";
    const std::string style = styleForNewCell(*gridRow, column);
    if (!style.empty())
        xml += " s=\"" + style + "\"";
    xml += "/>";
    if (!gridRow->added) {
        const std::string_view tag = rowTag(*gridRow);
        std::string_view spans;
        int lo = 0, hi = 0;
        if (attributeValue(tag, "spans", spans) && spans.find(' ') == std::string_view::npos &&
            std::sscanf(std::string(spans).c_str(), "%d:%d", &lo, &hi) == 2 && (column < lo || column > hi)) {
            const size_t at = static_cast<size_t>(spans.data() - tag.data());
            std::string edited(tag);
            edited.replace(at, spans.size(),
                           std::to_string(std::min(lo, column)) + ':' + std::to_string(std::max(hi, column)));
            if (gridRow->tagEdit >= 0) {
                m_edits[static_cast<size_t>(gridRow->tagEdit)] = std::move(edited);
            } else {
                gridRow->tagEdit = static_cast<int>(m_edits.size());
                m_edits.push_back(std::move(edited));
            }
        }
    }
    GridCell cell;
    cell.column = column;
    cell.added = true;
    cell.edit = static_cast<int>(m_edits.size());
    m_edits.push_back(std::move(xml));
    growDimension(row, column);
    setDirty();
    return m_grid.insertCell(*gridRow, cell);
}

bool Worksheet::write(int row, int column, const CellInput& input)
{
    if (isInArray(row, column)) {
        m_error = QStringLiteral("the cell is part of an array formula; only the whole array can change");
        return false;
    }
    if (input.kind == CellInput::Kind::Text && input.text.size() > 32767) {
        m_error = QStringLiteral("the text is longer than a cell may hold (32767 characters)");
        return false;
    }
    m_arrays.erase(std::remove_if(m_arrays.begin(), m_arrays.end(),
                                  [&](const ArrayGroup& a) {
                                      return a.ref.topLeft() == CellAddress{row, column};
                                  }),
                   m_arrays.end());
    GridCell* gridCell = m_grid.find(row, column);
    if (!gridCell) {
        if (input.kind == CellInput::Kind::Empty)
            return true;
        gridCell = &createCell(row, column);
    }
    pugi::xml_node cell = parseCell(*gridCell);
    if (!cell) {
        m_error = QStringLiteral("damaged: the cell's XML is malformed");
        return false;
    }
    if (const pugi::xml_node f = child(cell, "f"); f && attrIs(f, "t", "shared")) {
        unshare(f.attribute("si").value());
        gridCell = m_grid.find(row, column);
        cell = parseCell(*gridCell);
    }
    if (attrIs(cell, "t", "s") && m_strings)
        m_strings->release();
    for (const char* n : {"f", "v", "is"}) {
        while (pugi::xml_node c = child(cell, n))
            cell.remove_child(c);
    }
    for (const char* a : {"t", "cm", "vm"})
        cell.remove_attribute(a);
    const auto setType = [&](const char* type) {
        pugi::xml_attribute after = cell.attribute("s");
        if (!after)
            after = cell.attribute("r");
        pugi::xml_attribute t = after ? cell.insert_attribute_after("t", after) : cell.prepend_attribute("t");
        t.set_value(type);
    };
    switch (input.kind) {
    case CellInput::Kind::Empty:
        break;
    case CellInput::Kind::Text:
        if (m_strings) {
            setType("s");
            setText(addCellChild(cell, "v"), std::to_string(m_strings->add(input.text)));
        } else {
            setType("inlineStr");
            pugi::xml_node t = addCellChild(cell, "is").append_child(name("t").c_str());
            if (!input.text.isEmpty() && (input.text.front().isSpace() || input.text.back().isSpace()))
                t.append_attribute("xml:space").set_value("preserve");
            setText(t, encodeCellText(input.text));
        }
        break;
    case CellInput::Kind::Number:
        setText(addCellChild(cell, "v"),
                QString::number(input.number, 'g', QLocale::FloatingPointShortest).toStdString());
        break;
    case CellInput::Kind::Boolean:
        setType("b");
        setText(addCellChild(cell, "v"), input.boolean ? "1" : "0");
        break;
    case CellInput::Kind::Error:
        setType("e");
        setText(addCellChild(cell, "v"), encodeXml(input.text));
        break;
    case CellInput::Kind::Formula:
        setText(addCellChild(cell, "f"), encodeXml(input.text));
        break;
    }
    storeCell(*gridCell, cell);
    return true;
}

bool Worksheet::anyPiece(bool (*test)(std::string_view)) const
{
    return test(m_content) || test(XmlPart::serialize()) ||
           std::any_of(m_edits.begin(), m_edits.end(), [test](const std::string& e) { return test(e); });
}

std::string Worksheet::serialize() const
{
    const std::string shell = XmlPart::serialize();
    const size_t at = shell.find(kRowsPlaceholder);
    if (at == std::string::npos)
        return shell;

    // Edits and additions as events on the raw sheet data: at an offset, insert a text and
    // continue copying from `resume` (past the bytes the text replaces).
    struct Event
    {
        std::uint32_t offset;
        std::uint32_t resume;
        int order; // insertions before replacements at the same offset
        std::string owned;
        const std::string* text;
    };
    std::vector<Event> events;
    const auto cellText = [&](const GridCell& c) -> const std::string& {
        return m_edits[static_cast<size_t>(c.edit)];
    };
    const auto& rows = m_grid.rows();
    for (size_t ri = 0; ri < rows.size(); ++ri) {
        const GridRow& r = rows[ri];
        if (r.added) {
            std::string text = "<" + m_rowName + " r=\"" + std::to_string(r.row) + "\">";
            for (const GridCell& c : r.cells)
                text += cellText(c);
            text += "</" + m_rowName + ">";
            std::uint32_t anchor = static_cast<std::uint32_t>(m_content.size());
            for (size_t n = ri + 1; n < rows.size(); ++n) {
                if (!rows[n].added) {
                    anchor = rows[n].begin;
                    break;
                }
            }
            events.push_back({anchor, anchor, 0, std::move(text), nullptr});
            continue;
        }
        const bool selfClosing = r.tagEnd == r.end;
        const bool hasAdded =
            std::any_of(r.cells.begin(), r.cells.end(), [](const GridCell& c) { return c.added; });
        if (selfClosing && hasAdded) {
            std::string tag(rowTag(r));
            const size_t slash = tag.rfind('/');
            tag.erase(slash, tag.size() - slash - 1);
            for (const GridCell& c : r.cells)
                tag += cellText(c);
            tag += "</" + m_rowName + ">";
            events.push_back({r.begin, r.end, 1, std::move(tag), nullptr});
            continue;
        }
        if (r.tagEdit >= 0)
            events.push_back({r.begin, r.tagEnd, 1, {}, &m_edits[static_cast<size_t>(r.tagEdit)]});
        for (size_t i = 0; i < r.cells.size(); ++i) {
            const GridCell& c = r.cells[i];
            if (c.added) {
                std::uint32_t anchor = r.closeBegin;
                bool found = false;
                for (size_t j = i + 1; j < r.cells.size() && !found; ++j) {
                    if (!r.cells[j].added) {
                        anchor = r.cells[j].begin;
                        found = true;
                    }
                }
                for (size_t k = i; k-- > 0 && !found;) {
                    if (!r.cells[k].added) {
                        anchor = r.cells[k].end;
                        found = true;
                    }
                }
                events.push_back({anchor, anchor, 0, {}, &cellText(c)});
            } else if (c.edit >= 0) {
                events.push_back({c.begin, c.end, 1, {}, &cellText(c)});
            }
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.offset != b.offset ? a.offset < b.offset : a.order < b.order;
    });

    std::string out;
    out.reserve(shell.size() + m_content.size() + m_content.size() / 16);
    out.append(shell, 0, at);
    size_t pos = 0;
    for (const Event& e : events) {
        if (e.offset < pos)
            continue;
        out.append(m_content, pos, e.offset - pos);
        out += e.text ? *e.text : e.owned;
        pos = e.resume;
    }
    out.append(m_content, pos, std::string::npos);
    out.append(shell, at + std::strlen(kRowsPlaceholder), std::string::npos);
    return out;
}

} // namespace corvane::automation::native
