#include "worksheet.h"
#include "worksheetscan.h"

#include "xmlelement.h"
#include "xmltext.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace corvane::automation::native {

namespace {

// Whether s holds `text` at pos: the few bytes of a tag name, compared in place rather than by a
// call for each of the millions of tags of a large sheet.
bool holdsAt(std::string_view s, size_t pos, std::string_view text)
{
    if (pos > s.size() || s.size() - pos < text.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (s[pos + i] != text[i])
            return false;
    }
    return true;
}

// Whether an element named `qname` starts at s[pos].
bool startsElement(std::string_view s, size_t pos, std::string_view qname)
{
    if (pos + 1 + qname.size() >= s.size() || s[pos] != '<' || !holdsAt(s, pos + 1, qname))
        return false;
    const char next = s[pos + 1 + qname.size()];
    return isSpace(next) || next == '>' || next == '/';
}

// The end of the close tag "</qname>" at or after pos (whitespace allowed before '>').
size_t closeTagEnd(std::string_view s, size_t pos, std::string_view qname, size_t& closeBegin)
{
    const std::string close = "</" + std::string(qname);
    // Skipping ahead by the close tag's length, not stopping at each '<': the sheet data's close
    // is looked for across all of it.
    const std::boyer_moore_horspool_searcher searcher(close.begin(), close.end());
    const auto next = [&](size_t from) {
        if (from >= s.size())
            return std::string_view::npos;
        const auto at = std::search(s.begin() + std::ptrdiff_t(from), s.end(), searcher);
        return at == s.end() ? std::string_view::npos : size_t(at - s.begin());
    };
    for (size_t at = next(pos); at != std::string_view::npos; at = next(at + 1)) {
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
    if (pos + 1 < s.size() && s[pos] == '<' && s[pos + 1] != '!' && s[pos + 1] != '?')
        return pos;
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

// The end of a cell's element, from the end of its start tag: after its close tag, npos when it
// has none. `formulaAt` takes where a formula element inside it starts, npos when none does.
size_t cellEnd(std::string_view s, size_t from, std::string_view close, std::string_view fName,
               size_t& formulaAt)
{
    formulaAt = std::string_view::npos;
    for (size_t at = s.find('<', from); at != std::string_view::npos; at = s.find('<', at + 1)) {
        if (holdsAt(s, at, close)) {
            size_t i = at + close.size();
            while (i < s.size() && isSpace(s[i]))
                ++i;
            if (i < s.size() && s[i] == '>')
                return i + 1;
        } else if (formulaAt == std::string_view::npos && startsElement(s, at, fName)) {
            formulaAt = at;
        }
    }
    return std::string_view::npos;
}

// A cell's r attribute, read at once where it comes first, as writers put it.
bool referenceOf(std::string_view tag, size_t nameSize, std::string_view& ref)
{
    const size_t at = nameSize + 1;
    if (tag.compare(at, 4, " r=\"") == 0) {
        const size_t end = tag.find('"', at + 4);
        if (end != std::string_view::npos) {
            ref = tag.substr(at + 4, end - at - 4);
            return true;
        }
    }
    return attributeValue(tag, "r", ref);
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
    const std::string cellClose = "</" + m_cellName;
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
            size_t ce = cte, formulaAt = std::string_view::npos;
            if (!cellClosed && (ce = cellEnd(s, cte, cellClose, fName, formulaAt)) == std::string_view::npos)
                return false;
            int cr = rowNumber, cc = column + 1;
            std::string_view ref;
            if (referenceOf(s.substr(p, cte - p), m_cellName.size(), ref) &&
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
            // Formula cells of shared and array groups are read now for their groups.
            if (formulaAt != std::string_view::npos) {
                const std::string_view formula = s.substr(formulaAt, ce - formulaAt);
                if (formula.find("shared") != std::string_view::npos ||
                    formula.find("array") != std::string_view::npos)
                    noteFormula(parseCell(cell), cr, cc);
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
