#include "sheetedit.h"

#include "formulatokenizer.h"

#include <algorithm>

namespace corvane::automation::native::formula {

SheetEdit SheetEdit::deleteLines(Axis axis, std::vector<int> deleted)
{
    SheetEdit edit;
    edit.axis = axis;
    edit.first = deleted.front();
    edit.count = static_cast<int>(deleted.size());
    edit.lines = std::make_shared<const std::vector<int>>(std::move(deleted));
    return edit;
}

SheetEdit SheetEdit::insertLines(Axis axis, std::vector<int> before)
{
    SheetEdit edit = deleteLines(axis, std::move(before));
    edit.insert = true;
    return edit;
}

int SheetEdit::deletedBefore(int index) const
{
    if (insert)
        return 0;
    if (lines)
        return static_cast<int>(std::lower_bound(lines->begin(), lines->end(), index) - lines->begin());
    if (index <= first)
        return 0;
    return std::min(index - first, count);
}

bool SheetEdit::insertsInside(int from, int to) const
{
    if (!insert)
        return false;
    if (!lines)
        return first > from && first <= to;
    const auto after = std::upper_bound(lines->begin(), lines->end(), from);
    return after != lines->end() && *after <= to;
}

int closedIndex(int index, const SheetEdit& edit)
{
    // Pushed off the end, a line stays at the last one, where the first insertion that reached
    // the end left it.
    if (edit.insert)
        return shiftIndex(index, edit).value_or(edit.limit());
    return index - edit.deletedBefore(index);
}

std::optional<int> shiftIndex(int index, const SheetEdit& edit)
{
    int first = index;
    int last = index;
    if (!adjustSpan(first, last, false, edit))
        return std::nullopt;
    return first;
}

bool adjustSpan(int& first, int& last, bool isRange, const SheetEdit& edit)
{
    const int limit = edit.limit();
    const bool pinned = isRange && last == limit;
    // A span over the whole axis (A1:A1048576, 1:1048576 for column edits) is the whole column
    // or row: no edit along that axis changes it, not even one at its very start.
    if (edit.count <= 0 || last < edit.first || (pinned && first == 1))
        return true;

    if (edit.lines && edit.insert) {
        // Each new line goes in before the line it names: an end moves down one for each new
        // line placed before it or at it.
        const auto& before = *edit.lines;
        first += static_cast<int>(std::upper_bound(before.begin(), before.end(), first) - before.begin());
        if (first > limit)
            return false;
        if (!pinned)
            last = std::min(last + static_cast<int>(std::upper_bound(before.begin(), before.end(), last) -
                                                    before.begin()),
                            limit);
        return true;
    }

    if (edit.lines) {
        // Each deleted line before the span moves it up one; a span keeps its lines that are
        // left, and is lost when none are.
        const auto& deleted = *edit.lines;
        const auto before = std::lower_bound(deleted.begin(), deleted.end(), first);
        const auto through = std::upper_bound(before, deleted.end(), last);
        if (through - before == static_cast<std::ptrdiff_t>(last) - first + 1)
            return false;
        first -= static_cast<int>(before - deleted.begin());
        if (!pinned)
            last -= static_cast<int>(through - deleted.begin());
        return true;
    }

    if (edit.insert) {
        if (first >= edit.first) {
            first += edit.count;
            if (first > limit)
                return false;
        }
        last = pinned ? limit : std::min(last + edit.count, limit);
        return true;
    }

    const int bandLast = edit.last();
    if (first >= edit.first && last <= bandLast)
        return false;
    if (first > bandLast)
        first -= edit.count;
    else if (first >= edit.first)
        first = edit.first;
    if (!pinned)
        last = last > bandLast ? last - edit.count : edit.first - 1;
    return true;
}

std::optional<RangeAddress> adjustRange(const RangeAddress& range, const SheetEdit& edit)
{
    RangeAddress r = range;
    const bool isRange = !(r.firstRow == r.lastRow && r.firstColumn == r.lastColumn);
    const bool ok = edit.axis == SheetEdit::Axis::Rows
                        ? adjustSpan(r.firstRow, r.lastRow, isRange, edit)
                        : adjustSpan(r.firstColumn, r.lastColumn, isRange, edit);
    if (!ok)
        return std::nullopt;
    return r;
}

namespace {

struct PlainAddress
{
    ReferenceShape shape = ReferenceShape::Cell;
    ReferenceEnd first;
    ReferenceEnd last;
};

bool parsePlainAddress(std::string_view text, PlainAddress& a)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        a.shape = ReferenceShape::Cell;
        if (!parseCellWord(text, a.first))
            return false;
        a.last = a.first;
        return true;
    }
    const std::string_view left = text.substr(0, colon);
    const std::string_view right = text.substr(colon + 1);
    if (parseCellWord(left, a.first) && parseCellWord(right, a.last))
        a.shape = ReferenceShape::Area;
    else if (parseColumnWord(left, a.first) && parseColumnWord(right, a.last))
        a.shape = ReferenceShape::Columns;
    else if (parseRowWord(left, a.first) && parseRowWord(right, a.last))
        a.shape = ReferenceShape::Rows;
    else
        return false;
    return true;
}

} // namespace

bool adjustCorners(ReferenceShape shape, ReferenceEnd& first, ReferenceEnd& last, const SheetEdit& edit)
{
    const bool rows = edit.axis == SheetEdit::Axis::Rows;
    if ((rows && shape == ReferenceShape::Columns) || (!rows && shape == ReferenceShape::Rows))
        return true;
    if (shape != ReferenceShape::Cell && shape != ReferenceShape::Area && shape != ReferenceShape::Rows &&
        shape != ReferenceShape::Columns)
        return true;
    int& a = rows ? first.row : first.column;
    int& b = rows ? last.row : last.column;
    // Written corners may be reversed (B5:A1); the edit works on the normalised span.
    const bool reversed = a > b;
    int lo = reversed ? b : a;
    int hi = reversed ? a : b;
    const bool isRange = shape != ReferenceShape::Cell;
    if (!adjustSpan(lo, hi, isRange, edit))
        return false;
    a = reversed ? hi : lo;
    b = reversed ? lo : hi;
    if (!isRange)
        last = first;
    return true;
}

std::optional<std::string> adjustRangeAddress(std::string_view address, const SheetEdit& edit)
{
    PlainAddress a;
    if (!parsePlainAddress(address, a))
        return std::nullopt;
    PlainAddress b = a;
    if (!adjustCorners(b.shape, b.first, b.last, edit))
        return std::nullopt;
    if (b.first == a.first && b.last == a.last)
        return std::string(address);
    std::string out;
    appendAddress(out, b.shape, b.first, b.last);
    return out;
}

std::string adjustRangeList(std::string_view list, const SheetEdit& edit)
{
    std::string out;
    out.reserve(list.size());
    std::size_t pos = 0;
    while (pos < list.size()) {
        if (list[pos] == ' ') {
            ++pos;
            continue;
        }
        std::size_t end = list.find(' ', pos);
        if (end == std::string_view::npos)
            end = list.size();
        const std::string_view piece = list.substr(pos, end - pos);
        PlainAddress a;
        if (!parsePlainAddress(piece, a)) {
            if (!out.empty())
                out += ' ';
            out += piece;
        } else {
            const PlainAddress original = a;
            if (adjustCorners(a.shape, a.first, a.last, edit)) {
                if (!out.empty())
                    out += ' ';
                if (original.first == a.first && original.last == a.last)
                    out += piece;
                else
                    appendAddress(out, a.shape, a.first, a.last);
            }
        }
        pos = end;
    }
    return out;
}

} // namespace corvane::automation::native::formula
