// Rewrites every formula of Excel 97-2003 workbooks through the engine's replace, so that each is
// decompiled, changed and compiled again, and saves them in place (bench_xls_recompile.py has
// LibreOffice calculate them before and after). The change only lowers the letters outside
// quotes (SUM(A1) becomes sum(a1)): names, functions and references ignore letter case, so the
// new tokens must calculate as the old ones did. A formula without letters gets a leading space.
//
// usage: corvane-biffrecompile WORKBOOK...
// Prints a line per workbook the engine does not serve ("FILE<TAB>-<TAB>-<TAB>-<TAB>not served<TAB>
// reason") and one per formula cell: "FILE<TAB>sheet<TAB>row<TAB>column<TAB>outcome<TAB>detail"
// (1-based; outcome rewritten, refused or unread), then saves.
#include "automation/native/biff/biffsheet.h"
#include "automation/native/biff/biffworkbook.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <set>
#include <utility>

using namespace corvane::automation;
using namespace corvane::automation::native::biff;

namespace {

constexpr std::uint16_t kFormulaRecord = 0x0006;
constexpr std::uint16_t kBofRecord = 0x0809;
constexpr std::uint16_t kEofRecord = 0x000A;

// The letters outside string constants and quoted sheet names, lowered.
QString lowered(const QString& text)
{
    QString out = text;
    QChar quote;
    for (int i = 0; i < out.size(); ++i) {
        const QChar c = out[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\''))
            quote = c;
        else
            out[i] = c.toLower();
    }
    return out;
}

// A find text that matches `text` itself: the wildcards escaped.
QString literal(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('~'))
            out += QLatin1Char('~');
        out += c;
    }
    return out;
}

void line(const QString& file, const QString& sheet, int row, int column, const char* outcome,
          const QString& detail)
{
    QString clean = detail;
    clean.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    std::printf("%s\t%s\t%d\t%d\t%s\t%s\n", qPrintable(file), qPrintable(sheet), row, column, outcome,
                qPrintable(clean));
}

void recompile(const QString& path)
{
    const QString file = QFileInfo(path).fileName();
    BiffWorkbook workbook;
    if (!workbook.open(path, WorkKind::FindReplace)) {
        line(file, QStringLiteral("-"), 0, 0, "not served", workbook.lastError());
        return;
    }
    const std::vector<Record>& records = workbook.stream().records();
    for (int position = 0; position < workbook.sheetCount(); ++position) {
        auto* sheet = static_cast<BiffSheet*>(workbook.sheet(position + 1));
        const auto [bof, eof] = workbook.sheetRecords(position);
        std::set<std::pair<int, int>> cells;
        int depth = 0;
        for (std::size_t i = bof + 1; i < eof && i < records.size(); ++i) {
            if (records[i].type == kBofRecord)
                ++depth;
            else if (records[i].type == kEofRecord)
                --depth;
            else if (depth == 0 && records[i].type == kFormulaRecord && records[i].data.size() >= 4)
                cells.insert({le16(records[i].data, 0) + 1, le16(records[i].data, 2) + 1});
        }
        for (const auto& [row, column] : cells) {
            const CellAddress cell{row, column};
            const QString before = sheet->formula(cell);
            if (!before.startsWith(QLatin1Char('='))) {
                line(file, sheet->name(), row, column, "unread", sheet->lastError());
                continue;
            }
            const QString body = before.mid(1);
            // Without a letter to lower, a leading space (kept as a space token) changes the text.
            QString after = lowered(body);
            if (after == body)
                after = QLatin1Char(' ') + body;
            // A cell heading a shared formula writes the formula's other cells out with it; a
            // refusal of any of them counts here.
            const bool any = sheet->replace(RangeAddress{row, column, row, column}, literal(body), after);
            if (any && sheet->replaceRefusal().isEmpty())
                line(file, sheet->name(), row, column, "rewritten", before);
            else
                line(file, sheet->name(), row, column, "refused",
                     sheet->replaceRefusal().isEmpty() ? sheet->lastError() : sheet->replaceRefusal());
        }
    }
    if (!workbook.save())
        line(file, QStringLiteral("-"), 0, 0, "not saved", workbook.lastError());
    workbook.close();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fprintf(stderr, "usage: corvane-biffrecompile WORKBOOK...\n");
        return 2;
    }
    for (const QString& path : arguments)
        recompile(path);
    return 0;
}
