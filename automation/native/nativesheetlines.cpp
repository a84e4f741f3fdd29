// Deleting and inserting rows and columns of a native sheet: the edit itself is RowColumnEdit's;
// here lines deleted or inserted one at a time are gathered and edited together when they may wait.
#include "deferredlines.h"
#include "formula/formularewriter.h"
#include "formula/sheetname.h"
#include "nativesheet.h"
#include "nativeworkbook.h"
#include "package.h"
#include "relationships.h"
#include "rowcolumnedit.h"
#include "rowcolumnwork.h"
#include "text/searchpattern.h"
#include "worksheet.h"
#include "xmlpart.h"
#include "xmltext.h"

#include <algorithm>
#include <memory>
#include <string_view>

namespace corvane::automation::native {

using formula::SheetEdit;

namespace {

// Cells whose answer may depend on the edits so far are asked again at every search that meets
// them; past this many, a search costs about what taking the edits in does.
constexpr std::size_t kDependingAtMost = 256;

// Whether a formula search for `find` (without wildcards) answers the same for `text` (a formula
// bar text) whatever edit along `axis` its references follow. The edit changes only the
// reference tokens: line numbers, or the whole token to "#REF!" with its sheet prefix kept. An
// occurrence of the find text that a change could make or unmake overlaps a token: it starts in
// one (its first character is one a token can hold), ends in one (likewise its last), or holds
// a whole one (every token has a digit, a ':' or "#REF!"). Case is ignored, as the search does.
bool answerStays(const QString& find, const QString& text, SheetEdit::Axis axis, std::string_view home)
{
    const std::string utf8 = utf8String(text);
    std::vector<char> chars(128, 0); // ASCII a token can hold; anything else it holds is noted apart
    QString others;
    bool anyToken = false;
    formula::Tokenizer tokens(utf8);
    formula::Token t;
    while (tokens.next(t)) {
        if (t.kind != formula::TokenKind::Reference)
            continue;
        const formula::Reference& ref = t.reference;
        const bool grid =
            ref.shape == formula::ReferenceShape::Cell || ref.shape == formula::ReferenceShape::Area ||
            ref.shape == formula::ReferenceShape::Rows || ref.shape == formula::ReferenceShape::Columns;
        if (!grid || ref.external || ref.sheetLost || ref.isThreeD() ||
            (ref.hasSheet() && !formula::writtenSheetNameEquals(ref.sheet, ref.quoted, home)))
            continue;
        anyToken = true;
        for (const QChar c : QString::fromUtf8(utf8.data() + t.begin, static_cast<int>(t.end - t.begin))) {
            const QChar folded = c.toCaseFolded();
            if (folded.unicode() < 128)
                chars[folded.unicode()] = 1;
            else
                others += folded;
        }
    }
    if (!anyToken)
        return true;
    const QString folded = find.toCaseFolded();
    if (folded.isEmpty())
        return true;
    for (const QChar c : folded) {
        if (c.isDigit() || c == QLatin1Char(':'))
            return false;
    }
    if (folded.contains(QLatin1String("#ref!")))
        return false;
    for (const char c : std::string_view("0123456789$:!#'ref"))
        chars[static_cast<unsigned char>(c)] = 1;
    if (axis == SheetEdit::Axis::Columns) {
        for (char c = 'a'; c <= 'z'; ++c)
            chars[static_cast<unsigned char>(c)] = 1;
    }
    const auto tokenMayHold = [&](QChar c) {
        return c.unicode() < 128 ? chars[c.unicode()] != 0 : others.contains(c);
    };
    return !tokenMayHold(folded.front()) && !tokenMayHold(folded.back());
}

} // namespace

QString NativeSheet::searchKey(const FindQuery& query)
{
    return QString(QLatin1Char(query.lookIn == LookIn::Formulas ? 'f' : 'v')) +
           QLatin1Char(query.lookAt == LookAt::Whole ? 'w' : 'p') + query.what;
}

std::optional<CellAddress> NativeSheet::findBeforeEdits(const RangeAddress& in, const FindQuery& query,
                                                        const CellAddress& start, bool& answered)
{
    answered = true;
    m_searchesNeedEdits = false;
    const SearchPattern pattern(query.what, query.lookAt == LookAt::Whole);
    if (pattern.isEmpty())
        return std::nullopt;
    Worksheet* ws = m_worksheet;
    const bool formulas = query.lookIn == LookIn::Formulas;
    const std::string home = utf8String(m_name);
    const SheetEdit::Axis axis = m_deferred->axis();
    using Answer = DeferredLines::Answer;
    const auto answer = [&](const GridCell& c, int row) {
        if (!formulas)
            return pattern.matches(ws->displayText(c)) ? Answer::Yes : Answer::No;
        QString f;
        if (!ws->formula(c, row, f))
            return pattern.matches(ws->formulaBarText(c, row)) ? Answer::Yes : Answer::No;
        const QString text = QLatin1Char('=') + f;
        if (!pattern.literal() || !answerStays(*pattern.literal(), text, axis, home))
            return Answer::Depends;
        return pattern.matches(text) ? Answer::Yes : Answer::No;
    };
    // The text the formula bar shows once the edits so far are made: the formula as it was with
    // its references moved, shared formulas included (a group's members are written out when
    // they no longer follow their master, with the same text).
    const auto now = [&](const GridCell& c, int row, const SheetEdit& edit) {
        QString f;
        ws->formula(c, row, f);
        const std::string moved = formula::adjustFormula(utf8String(f), home, home, edit);
        return pattern.matches(QLatin1Char('=') + QString::fromStdString(moved));
    };
    bool tooMany = false;
    const std::optional<CellAddress> found =
        m_deferred->find(ws->grid(), in, start, searchKey(query), answer, now, kDependingAtMost, tooMany);
    if (!tooMany)
        return found;
    answered = false;
    m_searchesNeedEdits = true;
    m_keyNeedingEdits = searchKey(query);
    return std::nullopt;
}

bool NativeSheet::editLines(const SheetEdit& edit)
{
    if (!worksheet())
        return false;
    const bool rows = edit.axis == SheetEdit::Axis::Rows;
    if (edit.first < 1 || edit.first > edit.limit()) {
        m_lastError = QStringLiteral("there is no %1 %2 on the sheet")
                          .arg(rows ? QStringLiteral("row") : QStringLiteral("column"))
                          .arg(edit.first);
        return false;
    }
    std::vector<RowColumnEdit::SheetPart> parts;
    std::vector<NativeSheet*> sheets;
    std::size_t edited = 0;
    for (int i = 1; i <= m_workbook.sheetCount(); ++i) {
        auto* s = dynamic_cast<NativeSheet*>(m_workbook.sheet(i));
        if (!s)
            continue;
        if (s == this)
            edited = parts.size();
        parts.push_back({utf8String(s->m_name), s->m_partName, s->m_hasGrid});
        sheets.push_back(s);
    }
    RowColumnEdit work(m_workbook.package(), std::move(parts), edited, edit);
    m_adjustedFormulas = -1;
    if (!work.prepare()) {
        m_lastError = work.error();
        return false;
    }
    const bool applied = work.apply();
    // The parts those sheets held were renewed; they fetch them afresh.
    for (NativeSheet* s : sheets) {
        for (const std::string& name : work.replacedWorksheets()) {
            if (name == s->m_partName)
                s->m_worksheet = nullptr;
        }
    }
    m_workbook.contentsChanged();
    if (!applied) {
        m_lastError = work.error();
        return false;
    }
    m_adjustedFormulas = work.adjustedFormulas();
    m_workbook.lineEditWritten();
    return true;
}

bool NativeSheet::linesCanWait(SheetEdit::Axis axis, bool insert)
{
    // What refuses an edit depending on which lines it touches: array formulas and data tables,
    // tables, pivot tables and their sources, form controls. Protection and unreadable parts
    // refuse every edit of a kind alike, and the one that went through in full has ruled them
    // out; cells pushed off the sheet are the deferral's to watch.
    if (!m_workbook.lineEditsMayWait() || !m_editedAlong || m_editedAlong->axis != axis ||
        m_editedAlong->insert != insert || m_workbook.hasPivotCaches())
        return false;
    Worksheet* ws = worksheet();
    if (!ws || ws->grid().rows().empty())
        return false;
    const auto mayRefuse = [](std::string_view text) {
        return text.find("array") != std::string_view::npos ||
               text.find("dataTable") != std::string_view::npos;
    };
    if (ws->anyPiece(mayRefuse))
        return false;
    Package& package = m_workbook.package();
    const std::string relsName = Relationships::relsPartFor(m_partName);
    if (!package.contains(relsName))
        return true;
    auto* rels = package.part<Relationships>(relsName);
    if (!rels)
        return false;
    rels->setSource(m_partName);
    for (const Relationship& r : rels->all()) {
        if (r.type.find("/table") != std::string::npos || r.type.find("/pivotTable") != std::string::npos)
            return false;
        if (r.type.find("/vmlDrawing") == std::string::npos || r.external || !package.contains(r.target))
            continue;
        // Notes move with their cells; any other object in a legacy drawing is a control.
        std::string vml;
        if (package.isLoaded(r.target)) {
            XmlPart* loaded = package.part<XmlPart>(r.target);
            if (!loaded)
                return false;
            vml = loaded->serialize();
        } else if (!package.read(r.target, vml)) {
            return false;
        }
        std::size_t objects = 0;
        std::size_t notes = 0;
        for (std::size_t at = vml.find("ObjectType"); at != std::string::npos;
             at = vml.find("ObjectType", at + 1)) {
            ++objects;
            if (vml.compare(at, 17, "ObjectType=\"Note\"") == 0)
                ++notes;
        }
        if (objects != notes)
            return false;
    }
    return true;
}

bool NativeSheet::editLine(SheetEdit::Axis axis, int index, bool insert)
{
    if (m_deferred && m_deferred->axis() == axis &&
        (insert ? m_deferred->insert(index) : m_deferred->remove(index))) {
        m_adjustedFormulas = -1; // known only once the lines go in
        return true;
    }
    m_workbook.settle();
    // A walk whose searches the sheet as it was cannot answer takes every edit in before its
    // next search anyway.
    if (!m_searchesNeedEdits && linesCanWait(axis, insert)) {
        const bool rows = axis == SheetEdit::Axis::Rows;
        int extent = 1;
        for (const GridRow& row : m_worksheet->grid().rows()) {
            extent = std::max(extent, rows ? row.row : (row.cells.empty() ? 1 : row.cells.back().column));
        }
        auto deferred = std::make_unique<DeferredLines>(axis, extent, insert);
        if (insert ? deferred->insert(index) : deferred->remove(index)) {
            m_deferred = std::move(deferred);
            m_workbook.deferring(this);
            m_adjustedFormulas = -1;
            return true;
        }
    }
    const bool rows = axis == SheetEdit::Axis::Rows;
    const bool done =
        editLines(insert ? (rows ? SheetEdit::insertRows(index) : SheetEdit::insertColumns(index))
                         : (rows ? SheetEdit::deleteRows(index) : SheetEdit::deleteColumns(index)));
    if (done)
        m_editedAlong = EditedAlong{axis, insert};
    else
        m_editedAlong.reset();
    return done;
}

bool NativeSheet::settleLines()
{
    const std::unique_ptr<DeferredLines> deferred = std::move(m_deferred);
    if (!deferred || deferred->empty())
        return true;
    return editLines(deferred->edit());
}

bool NativeSheet::deleteRow(int row)
{
    return editLine(SheetEdit::Axis::Rows, row, false);
}

bool NativeSheet::deleteColumn(int column)
{
    return editLine(SheetEdit::Axis::Columns, column, false);
}

bool NativeSheet::insertRow(int row)
{
    return editLine(SheetEdit::Axis::Rows, row, true);
}

bool NativeSheet::insertColumn(int column)
{
    return editLine(SheetEdit::Axis::Columns, column, true);
}

} // namespace corvane::automation::native
