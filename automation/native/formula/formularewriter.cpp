#include "formularewriter.h"

#include "formulatokenizer.h"
#include "sheetname.h"

#include <utility>

namespace corvane::automation::native::formula {

namespace {

enum class Outcome
{
    Keep,
    Rewrite,   // same prefix, new address
    Lost,      // prefix kept, address replaced by #REF!
    SheetLost, // prefix replaced by #REF!, address kept
    NewPrefix, // prefix replaced by the scratch text, address kept
};

struct Rewrite
{
    Reference reference;  // the new corners for Outcome::Rewrite
    std::string* scratch; // new prefix for Outcome::NewPrefix
};

// Walks the tokens of text and asks rule what to do with each reference. Untouched stretches are
// copied in one piece; out is written only once the first reference changes.
template <typename Rule>
bool rewriteReferences(std::string_view text, std::string& out, LostReferenceStyle style, Rule&& rule)
{
    Tokenizer tokenizer(text);
    Token token;
    std::size_t copied = 0;
    bool changed = false;
    std::string scratch;
    Rewrite rewrite{Reference{}, &scratch};
    while (tokenizer.next(token)) {
        if (token.kind != TokenKind::Reference)
            continue;
        const Reference& ref = token.reference;
        rewrite.reference = ref;
        const Outcome outcome = rule(ref, rewrite);
        if (outcome == Outcome::Keep)
            continue;
        if (!changed) {
            out.clear();
            out.reserve(text.size() + 16);
            changed = true;
        }
        out.append(text.substr(copied, token.begin - copied));
        const std::string_view prefix = text.substr(token.begin, ref.addressBegin - token.begin);
        switch (outcome) {
        case Outcome::Keep:
            break;
        case Outcome::Rewrite:
            out.append(prefix);
            appendAddress(out, rewrite.reference.shape, rewrite.reference.first, rewrite.reference.last);
            break;
        case Outcome::Lost:
            // "#REF!A1" moved off the sheet is simply "#REF!".
            if (!ref.sheetLost && style == LostReferenceStyle::Excel)
                out.append(prefix);
            out.append("#REF!");
            break;
        case Outcome::SheetLost:
            out.append("#REF!");
            if (style == LostReferenceStyle::Excel && ref.repeatedSheet)
                appendAddress(out, ref.shape, ref.first, ref.last);
            else if (style == LostReferenceStyle::Excel && ref.shape != ReferenceShape::Name)
                out.append(text.substr(ref.addressBegin, token.end - ref.addressBegin));
            break;
        case Outcome::NewPrefix:
            out.append(scratch);
            if (ref.repeatedSheet)
                appendAddress(out, ref.shape, ref.first, ref.last);
            else
                out.append(text.substr(ref.addressBegin, token.end - ref.addressBegin));
            break;
        }
        copied = token.end;
    }
    if (changed)
        out.append(text.substr(copied));
    return changed;
}

bool isGridShape(ReferenceShape shape)
{
    return shape == ReferenceShape::Cell || shape == ReferenceShape::Area || shape == ReferenceShape::Rows ||
           shape == ReferenceShape::Columns;
}

void moveEnd(ReferenceEnd& e, int rowDelta, int columnDelta)
{
    if (e.row && !e.rowAbsolute)
        e.row += rowDelta;
    if (e.column && !e.columnAbsolute)
        e.column += columnDelta;
}

bool onSheet(const ReferenceEnd& e, ReferenceShape shape)
{
    if (shape != ReferenceShape::Columns && (e.row < 1 || e.row > kMaxRows))
        return false;
    if (shape != ReferenceShape::Rows && (e.column < 1 || e.column > kMaxColumns))
        return false;
    return true;
}

// The application writes a range with its smaller row and column first; a translation that
// crosses mixed anchors ($A1:A$5 moved down) swaps them, each part keeping its '$'.
void normalise(Reference& r)
{
    if (r.first.row > r.last.row) {
        std::swap(r.first.row, r.last.row);
        std::swap(r.first.rowAbsolute, r.last.rowAbsolute);
    }
    if (r.first.column > r.last.column) {
        std::swap(r.first.column, r.last.column);
        std::swap(r.first.columnAbsolute, r.last.columnAbsolute);
    }
}

std::string fromQString(const QString& s)
{
    const QByteArray utf8 = s.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

QString toQString(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

} // namespace

bool translateFormula(std::string_view formula, int rowDelta, int columnDelta, std::string& out,
                      LostReferenceStyle style)
{
    return rewriteReferences(formula, out, style, [&](const Reference& ref, Rewrite& rw) {
        if (!isGridShape(ref.shape))
            return Outcome::Keep;
        Reference& moved = rw.reference;
        moveEnd(moved.first, rowDelta, columnDelta);
        moveEnd(moved.last, rowDelta, columnDelta);
        if (!onSheet(moved.first, ref.shape) || !onSheet(moved.last, ref.shape))
            return Outcome::Lost;
        if (moved.first == ref.first && moved.last == ref.last)
            return Outcome::Keep;
        if (ref.shape != ReferenceShape::Cell)
            normalise(moved);
        return Outcome::Rewrite;
    });
}

std::string translateFormula(std::string_view formula, int rowDelta, int columnDelta,
                             LostReferenceStyle style)
{
    std::string out;
    if (!translateFormula(formula, rowDelta, columnDelta, out, style))
        return std::string(formula);
    return out;
}

QString translateFormula(const QString& formula, int rowDelta, int columnDelta, LostReferenceStyle style)
{
    std::string out;
    if (!translateFormula(fromQString(formula), rowDelta, columnDelta, out, style))
        return formula;
    return toQString(out);
}

bool adjustFormula(std::string_view formula, std::string_view formulaSheet, std::string_view editedSheet,
                   const SheetEdit& edit, std::string& out, LostReferenceStyle style)
{
    const bool homeIsEdited = !formulaSheet.empty() && sheetNamesEqual(formulaSheet, editedSheet);
    // Most formulas of the other sheets name no sheet at all; they cannot point into the edited one.
    if (!homeIsEdited && formula.find('!') == std::string_view::npos)
        return false;
    return rewriteReferences(formula, out, style, [&](const Reference& ref, Rewrite& rw) {
        if (!isGridShape(ref.shape) || ref.external || ref.sheetLost || ref.isThreeD())
            return Outcome::Keep;
        const bool intoEdited =
            ref.hasSheet() ? writtenSheetNameEquals(ref.sheet, ref.quoted, editedSheet) : homeIsEdited;
        if (!intoEdited)
            return Outcome::Keep;
        Reference& moved = rw.reference;
        if (!adjustCorners(moved.shape, moved.first, moved.last, edit))
            return Outcome::Lost;
        if (moved.first == ref.first && moved.last == ref.last)
            return Outcome::Keep;
        return Outcome::Rewrite;
    });
}

std::string adjustFormula(std::string_view formula, std::string_view formulaSheet,
                          std::string_view editedSheet, const SheetEdit& edit, LostReferenceStyle style)
{
    std::string out;
    if (!adjustFormula(formula, formulaSheet, editedSheet, edit, out, style))
        return std::string(formula);
    return out;
}

QString adjustFormula(const QString& formula, const QString& formulaSheet, const QString& editedSheet,
                      const SheetEdit& edit, LostReferenceStyle style)
{
    std::string out;
    if (!adjustFormula(fromQString(formula), fromQString(formulaSheet), fromQString(editedSheet), edit, out,
                       style))
        return formula;
    return toQString(out);
}

std::string adjustDefinedName(std::string_view text, std::string_view editedSheet, const SheetEdit& edit,
                              LostReferenceStyle style)
{
    return adjustFormula(text, std::string_view(), editedSheet, edit, style);
}

namespace {

// Position of name in sheetOrder, or -1.
int sheetIndex(const std::vector<std::string>& sheetOrder, std::string_view written, bool quoted)
{
    for (std::size_t i = 0; i < sheetOrder.size(); ++i) {
        if (writtenSheetNameEquals(written, quoted, sheetOrder[i]))
            return static_cast<int>(i);
    }
    return -1;
}

// The prefix "first!" or, for a 3-D span, "first:last!", quoted as a whole when either name
// needs it.
void writePrefix(std::string& s, std::string_view first, std::string_view last)
{
    s.clear();
    if (first == last) {
        s += quoteSheetName(first);
    } else if (sheetNameNeedsQuotes(first) || sheetNameNeedsQuotes(last)) {
        s += '\'';
        for (const std::string_view part : {first, std::string_view(":", 1), last}) {
            for (const char c : part) {
                if (c == '\'')
                    s += '\'';
                s += c;
            }
        }
        s += '\'';
    } else {
        s.append(first).append(1, ':').append(last);
    }
    s += '!';
}

// A written prefix name in plain form ('' read as one apostrophe).
std::string plainWritten(std::string_view written, bool quoted)
{
    if (!quoted || written.find('\'') == std::string_view::npos)
        return std::string(written);
    std::string plain;
    plain.reserve(written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        plain += written[i];
        if (written[i] == '\'' && i + 1 < written.size() && written[i + 1] == '\'')
            ++i;
    }
    return plain;
}

} // namespace

bool removeSheetFromFormula(std::string_view formula, std::string_view deletedSheet,
                            const std::vector<std::string>& sheetOrder, std::string& out,
                            LostReferenceStyle style)
{
    if (formula.find('!') == std::string_view::npos)
        return false;
    return rewriteReferences(formula, out, style, [&](const Reference& ref, Rewrite& rw) {
        if (ref.external || ref.sheetLost || !ref.hasSheet() || ref.shape == ReferenceShape::Lost)
            return Outcome::Keep;
        if (!ref.isThreeD()) {
            if (!writtenSheetNameEquals(ref.sheet, ref.quoted, deletedSheet))
                return Outcome::Keep;
            return Outcome::SheetLost;
        }

        const bool firstHit = writtenSheetNameEquals(ref.sheet, ref.quoted, deletedSheet);
        const bool lastHit = writtenSheetNameEquals(ref.lastSheet, ref.quoted, deletedSheet);
        if (!firstHit && !lastHit)
            return Outcome::Keep;
        const int a = sheetIndex(sheetOrder, ref.sheet, ref.quoted);
        const int b = sheetIndex(sheetOrder, ref.lastSheet, ref.quoted);
        if (a < 0 || b < 0 || a == b || ref.shape == ReferenceShape::Name)
            return Outcome::SheetLost;
        // The span loses its deleted end; the neighbour inside the span takes its place.
        const int step = a < b ? 1 : -1;
        const int newFirst = firstHit ? a + step : a;
        const int newLast = lastHit ? b - step : b;
        writePrefix(*rw.scratch, sheetOrder[static_cast<std::size_t>(newFirst)],
                    sheetOrder[static_cast<std::size_t>(newLast)]);
        return Outcome::NewPrefix;
    });
}

std::string removeSheetFromFormula(std::string_view formula, std::string_view deletedSheet,
                                   const std::vector<std::string>& sheetOrder, LostReferenceStyle style)
{
    std::string out;
    if (!removeSheetFromFormula(formula, deletedSheet, sheetOrder, out, style))
        return std::string(formula);
    return out;
}

QString removeSheetFromFormula(const QString& formula, const QString& deletedSheet,
                               const std::vector<std::string>& sheetOrder, LostReferenceStyle style)
{
    std::string out;
    if (!removeSheetFromFormula(fromQString(formula), fromQString(deletedSheet), sheetOrder, out, style))
        return formula;
    return toQString(out);
}

bool renameSheetInFormula(std::string_view formula, std::string_view oldName, std::string_view newName,
                          std::string& out)
{
    if (formula.find('!') == std::string_view::npos)
        return false;
    return rewriteReferences(formula, out, LostReferenceStyle::Excel, [&](const Reference& ref, Rewrite& rw) {
        if (ref.external || ref.sheetLost || !ref.hasSheet())
            return Outcome::Keep;
        const bool firstHit = writtenSheetNameEquals(ref.sheet, ref.quoted, oldName);
        const bool lastHit = ref.isThreeD() && writtenSheetNameEquals(ref.lastSheet, ref.quoted, oldName);
        if (!firstHit && !lastHit)
            return Outcome::Keep;
        if (!ref.isThreeD()) {
            rw.scratch->clear();
            rw.scratch->append(quoteSheetName(newName)).append(1, '!');
        } else {
            const std::string first = firstHit ? std::string(newName) : plainWritten(ref.sheet, ref.quoted);
            const std::string last = lastHit ? std::string(newName) : plainWritten(ref.lastSheet, ref.quoted);
            writePrefix(*rw.scratch, first, last);
        }
        return Outcome::NewPrefix;
    });
}

std::string renameSheetInFormula(std::string_view formula, std::string_view oldName, std::string_view newName)
{
    std::string out;
    if (!renameSheetInFormula(formula, oldName, newName, out))
        return std::string(formula);
    return out;
}

QString renameSheetInFormula(const QString& formula, const QString& oldName, const QString& newName)
{
    std::string out;
    if (!renameSheetInFormula(fromQString(formula), fromQString(oldName), fromQString(newName), out))
        return formula;
    return toQString(out);
}

} // namespace corvane::automation::native::formula
