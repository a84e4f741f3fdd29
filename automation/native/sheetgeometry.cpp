#include "sheetgeometry.h"

#include "worksheet.h"
#include "xmltext.h"

#include "automation/celladdress.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace corvane::automation::native {

namespace {

constexpr int kDigitPixels = 7; // widest digit of Calibri 11 at 96 dpi
constexpr double kPointsPerPixel = 0.75;
constexpr double kMaxRowHeight = 409.5; // the highest row the application allows

bool isTrue(const char* value)
{
    return std::strcmp(value, "1") == 0 || std::strcmp(value, "true") == 0;
}

// The value of attribute `name` in a start tag, or false.
bool tagAttribute(std::string_view tag, std::string_view name, std::string& out)
{
    size_t at = 0;
    while ((at = tag.find(name, at)) != std::string_view::npos) {
        const size_t after = at + name.size();
        const bool startsWord = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' || tag[at - 1] == '\n' ||
                                           tag[at - 1] == '\r');
        size_t eq = after;
        while (eq < tag.size() && (tag[eq] == ' ' || tag[eq] == '\t'))
            ++eq;
        if (startsWord && eq < tag.size() && tag[eq] == '=') {
            size_t q = eq + 1;
            while (q < tag.size() && (tag[q] == ' ' || tag[q] == '\t'))
                ++q;
            if (q < tag.size() && (tag[q] == '"' || tag[q] == '\'')) {
                const size_t close = tag.find(tag[q], q + 1);
                if (close == std::string_view::npos)
                    return false;
                out.assign(tag.substr(q + 1, close - q - 1));
                return true;
            }
        }
        at = after;
    }
    return false;
}

} // namespace

GridAxis::GridAxis(double defaultSize, std::vector<Span> spans, int lineCount)
    : m_default(std::max(0.0, defaultSize)), m_spans(std::move(spans)), m_count(lineCount)
{
    std::sort(m_spans.begin(), m_spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
    // Later spans never reach back into earlier ones.
    std::vector<Span> clean;
    int next = 1;
    for (Span s : m_spans) {
        s.first = std::max(s.first, next);
        s.last = std::min(s.last, m_count);
        if (s.first > s.last)
            continue;
        clean.push_back(s);
        next = s.last + 1;
    }
    m_spans = std::move(clean);
}

double GridAxis::start(int line) const
{
    double pos = double(line - 1) * m_default;
    for (const Span& s : m_spans) {
        if (s.first >= line)
            break;
        const int inside = std::min(s.last, line - 1) - s.first + 1;
        pos += inside * (s.size - m_default);
    }
    return pos;
}

void GridAxis::locate(double position, int& line, double& offset, int preferred) const
{
    // Edges are sums of sizes such as 14.4 that binary fractions only approximate: a position
    // computed as a line's start must not fall a hair short of it, into the line before.
    constexpr double kSlack = 1e-6;
    position = std::max(0.0, position);
    if (preferred >= 1 && preferred <= m_count && std::abs(start(preferred) - position) <= kSlack) {
        line = preferred;
        offset = 0;
        return;
    }
    double pos = 0;
    int cursor = 1;
    const auto within = [&](int first, int last, double size) {
        const double span = double(last - first + 1) * size;
        if (size > 0 && position < pos + span - kSlack) {
            const int n = int(std::clamp((position - pos) / size + kSlack, 0.0, double(last - first)));
            line = first + n;
            offset = std::max(0.0, position - pos - n * size);
            return true;
        }
        pos += span;
        return false;
    };
    for (const Span& s : m_spans) {
        if (s.first > cursor && within(cursor, s.first - 1, m_default))
            return;
        if (within(s.first, s.last, s.size))
            return;
        cursor = s.last + 1;
    }
    if (cursor <= m_count && within(cursor, m_count, m_default))
        return;
    // Beyond the last line: the end of the grid.
    line = m_count;
    offset = 0;
}

int SheetGeometry::columnPixels(double width)
{
    // The widest column the application allows is 255 characters; a file may say anything.
    width = std::isnan(width) ? 0 : std::clamp(width, 0.0, 255.0);
    return int(std::trunc((256 * width + std::trunc(128.0 / kDigitPixels)) / 256 * kDigitPixels));
}

namespace {

GridAxis columnAxis(const Worksheet& sheet)
{
    const pugi::xml_node format = sheet.child(sheet.root(), "sheetFormatPr");
    int defaultPixels = 0;
    if (format.attribute("defaultColWidth")) {
        defaultPixels = SheetGeometry::columnPixels(format.attribute("defaultColWidth").as_double());
    } else {
        // The base width is digits without padding; the application adds 5 pixels and rounds
        // up to a multiple of 8 pixels (8 digits make the familiar 64 pixels).
        const int base = boundedInt(format.attribute("baseColWidth").value(), 0, 255, 8);
        defaultPixels = (base * kDigitPixels + 5 + 7) / 8 * 8;
    }
    const double defaultSize = defaultPixels * kPointsPerPixel;
    std::vector<GridAxis::Span> spans;
    for (pugi::xml_node cols = sheet.child(sheet.root(), "cols"); cols;
         cols = cols.next_sibling(cols.name())) {
        for (pugi::xml_node col = sheet.child(cols, "col"); col; col = col.next_sibling(col.name())) {
            GridAxis::Span s;
            s.first = std::max(1, col.attribute("min").as_int(1));
            s.last = std::min(kMaxColumns, col.attribute("max").as_int(s.first));
            if (isTrue(col.attribute("hidden").value()))
                s.size = 0;
            else if (col.attribute("width"))
                s.size = SheetGeometry::columnPixels(col.attribute("width").as_double()) * kPointsPerPixel;
            else
                s.size = defaultSize;
            spans.push_back(s);
        }
    }
    return GridAxis(defaultSize, std::move(spans), kMaxColumns);
}

GridAxis rowAxis(const Worksheet& sheet)
{
    const pugi::xml_node format = sheet.child(sheet.root(), "sheetFormatPr");
    double defaultSize = boundedReal(format.attribute("defaultRowHeight").value(), 0, kMaxRowHeight, 15);
    if (isTrue(format.attribute("zeroHeight").value()))
        defaultSize = 0;
    std::vector<GridAxis::Span> spans;
    std::string value;
    for (const GridRow& row : sheet.grid().rows()) {
        const std::string_view tag = sheet.rowStartTag(row);
        if (tag.empty())
            continue;
        double size = defaultSize;
        bool own = false;
        if (tagAttribute(tag, "hidden", value) && isTrue(value.c_str())) {
            size = 0;
            own = true;
        } else if (tagAttribute(tag, "ht", value)) {
            size = boundedReal(value.c_str(), 0, kMaxRowHeight, defaultSize);
            own = true;
        }
        if (own)
            spans.push_back({row.row, row.row, std::max(0.0, size)});
    }
    return GridAxis(defaultSize, std::move(spans), kMaxRows);
}

} // namespace

SheetGeometry::SheetGeometry(const Worksheet& sheet) : m_columns(columnAxis(sheet)), m_rows(rowAxis(sheet)) {}

} // namespace corvane::automation::native
