// Reading and writing cells under LibreOffice: what a cell holds as Excel shows it, and writes
// by Excel's typed-input rules, neither of which Calc's API follows on its own.
#include "libreofficesheet.h"

#include "libreofficeworkbook.h"
#include "typedinput.h"

#include <QRegularExpression>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/sheet/AddressConvention.hpp>
#include <com/sun/star/sheet/FormulaLanguage.hpp>
#include <com/sun/star/sheet/FormulaMapGroup.hpp>
#include <com/sun/star/sheet/FormulaMapGroupSpecialOffset.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCellRangeFormula.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XFormulaOpCodeMapper.hpp>
#include <com/sun/star/sheet/XFormulaParser.hpp>
#include <com/sun/star/sheet/XFormulaTokens.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/NumberFormat.hpp>

#include <algorithm>
#include <map>
#include <unordered_set>

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace corvane::automation::libreoffice {

namespace {

// LibreOffice's codes for formulas that do not parse (as opposed to errors of evaluation).
bool isSyntaxError(sal_Int32 code)
{
    switch (code) {
    case 501: // invalid character
    case 504: // error in parameter list
    case 507: // missing pair
    case 508: // missing bracket
    case 509: // missing operator
    case 510: // missing variable
    case 511: // missing variable
    case 512: // formula overflow
    case 516: // internal syntactical errors
    case 517:
    case 518:
    case 520:
        return true;
    default:
        return false;
    }
}

// Calc quietly closes parentheses a formula left open ("=SUM(" becomes "=SUM()"); Excel refuses
// such a formula, and so do we.
bool parenthesesBalance(const QString& formula)
{
    int depth = 0;
    bool quoted = false;
    for (const QChar c : formula) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('('))
            ++depth;
        else if (!quoted && c == QLatin1Char(')') && --depth < 0)
            return false;
    }
    return depth == 0 && !quoted;
}

// Calc prints a reference to another sheet its own way ("$Data.A3", "$'My sheet'.A1:B2") even
// when told to use Excel's syntax; it reads Excel's form ("Data!A3") fine. Rewrite the sheet part
// outside string literals so formulas read the way Excel shows them.
QString excelSheetReferences(const QString& formula)
{
    static const QRegularExpression sheetRef(
        QStringLiteral("(?<![\\w.'\\]])\\$?('(?:[^']|'')+'|[^\\W\\d][\\w]*)\\.(?=\\$?[A-Za-z]{1,3}\\$?[0-9]|"
                       "\\$?[A-Za-z]{1,3}:|\\$?[0-9]+:|#REF!)"));
    QString result;
    int i = 0;
    while (i < formula.size()) {
        const int quote = formula.indexOf(QLatin1Char('"'), i);
        const int end = quote < 0 ? formula.size() : quote;
        result += formula.mid(i, end - i).replace(sheetRef, QStringLiteral("\\1!"));
        if (quote < 0)
            break;
        const int close = formula.indexOf(QLatin1Char('"'), quote + 1);
        const int stop = close < 0 ? formula.size() : close + 1;
        result += formula.mid(quote, stop - quote);
        i = stop;
    }
    return result;
}

// LibreOffice keeps the boolean constants of .xls and .xlsx files as these formulas.
QString booleanConstant(const QString& formula)
{
    if (formula.compare(QLatin1String("=TRUE()"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("TRUE");
    if (formula.compare(QLatin1String("=FALSE()"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("FALSE");
    return {};
}

// FormulaResultType2 of a formula cell.
constexpr sal_Int32 kResultString = 2;

// Turns formulas in the grammar the office is set to (Excel's A1 references, English names, the
// configured separators) into Calc's API grammar, the only one a block write reads, with Calc's
// own parser, so that the text written in a block is the same formula token for token.
class FormulaTranslator
{
public:
    FormulaTranslator(const Reference<css::uno::XInterface>& document, sal_Int16 sheet) : m_sheet(sheet)
    {
        const Reference<css::lang::XMultiServiceFactory> factory(document, UNO_QUERY);
        if (!factory.is())
            return;
        const Reference<css::sheet::XFormulaOpCodeMapper> mapper(
            factory->createInstance("com.sun.star.sheet.FormulaOpCodeMapper"), UNO_QUERY);
        m_local.set(factory->createInstance("com.sun.star.sheet.FormulaParser"), UNO_QUERY);
        m_api.set(factory->createInstance("com.sun.star.sheet.FormulaParser"), UNO_QUERY);
        if (!mapper.is() || !m_local.is() || !m_api.is()) {
            m_local.clear();
            return;
        }
        const Reference<css::beans::XPropertySet> local(m_local, UNO_QUERY_THROW);
        local->setPropertyValue("CompileEnglish", Any(false));
        local->setPropertyValue("FormulaConvention",
                                Any(static_cast<sal_Int16>(css::sheet::AddressConvention::XL_A1)));
        const Reference<css::beans::XPropertySet> api(m_api, UNO_QUERY_THROW);
        api->setPropertyValue("CompileEnglish", Any(true));
        api->setPropertyValue("FormulaConvention",
                              Any(static_cast<sal_Int16>(css::sheet::AddressConvention::OOO)));
        api->setPropertyValue(
            "OpCodeMap", Any(mapper->getAvailableMappings(css::sheet::FormulaLanguage::API,
                                                          css::sheet::FormulaMapGroup::ALL_EXCEPT_SPECIAL)));
        const auto specials = mapper->getAvailableMappings(css::sheet::FormulaLanguage::API,
                                                           css::sheet::FormulaMapGroup::SPECIAL);
        if (specials.getLength() > css::sheet::FormulaMapGroupSpecialOffset::BAD)
            m_bad = specials[css::sheet::FormulaMapGroupSpecialOffset::BAD].Token.OpCode;
    }

    bool usable() const { return m_local.is(); }
    // Whether the formula holds a part Calc could not read (an unknown name, a sheet that is
    // not there): such a part is printed as it was written, and another grammar reads it
    // differently.
    bool unreadable(const css::uno::Sequence<css::sheet::FormulaToken>& tokens) const
    {
        return m_bad < 0 ||
               std::any_of(tokens.begin(), tokens.end(),
                           [this](const css::sheet::FormulaToken& t) { return t.OpCode == m_bad; });
    }
    css::uno::Sequence<css::sheet::FormulaToken> parse(const QString& formula, const CellAddress& at) const
    {
        return m_local->parseFormula(toOUString(formula), position(at));
    }
    rtl::OUString apiText(const css::uno::Sequence<css::sheet::FormulaToken>& tokens,
                          const CellAddress& at) const
    {
        return "=" + m_api->printFormula(tokens, position(at));
    }

private:
    css::table::CellAddress position(const CellAddress& at) const
    {
        return {m_sheet, at.column - 1, at.row - 1};
    }

    sal_Int16 m_sheet;
    sal_Int32 m_bad = -1;
    Reference<css::sheet::XFormulaParser> m_local;
    Reference<css::sheet::XFormulaParser> m_api;
};

// The most cells one block write holds.
constexpr int kWriteBlockCells = 16384;

} // namespace

QString LibreOfficeSheet::textContent(const Reference<css::table::XCell>& cell)
{
    // The cell's string shows through its number format ("Item: "@ puts a prefix in front);
    // the formula text is the string itself, with an apostrophe in front of any that would not
    // be read back as text.
    QString text = toQString(cell->getFormula());
    if (text.startsWith(QLatin1Char('\'')))
        text.remove(0, 1);
    return text;
}

QString LibreOfficeSheet::cellFormula(const Reference<css::table::XCell>& cell)
{
    return content(cell).text;
}

QString LibreOfficeSheet::formulaText(const Reference<css::beans::XPropertySet>& formulaCell)
{
    rtl::OUString formula;
    formulaCell->getPropertyValue("FormulaLocal") >>= formula;
    const QString text = excelSheetReferences(toQString(formula));
    const QString boolean = booleanConstant(text);
    return boolean.isEmpty() ? text : boolean;
}

LibreOfficeSheet::Content LibreOfficeSheet::content(const Reference<css::table::XCell>& cell)
{
    Content c;
    c.type = cell->getType();
    switch (c.type) {
    case css::table::CellContentType_TEXT:
        c.text = textContent(cell);
        break;
    case css::table::CellContentType_FORMULA:
        c.props.set(cell, UNO_QUERY_THROW);
        c.text = formulaText(c.props);
        break;
    case css::table::CellContentType_VALUE: {
        c.props.set(cell, UNO_QUERY_THROW);
        sal_Int32 format = 0;
        c.props->getPropertyValue("NumberFormat") >>= format;
        if (m_workbook->isBooleanFormat(format))
            c.text = cell->getValue() != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        else
            c.text = CellValue::fromNumber(cell->getValue()).toText();
        break;
    }
    default:
        break;
    }
    return c;
}

bool LibreOfficeSheet::enter(const Reference<css::table::XCell>& cell, const QString& text,
                             const Content* before)
{
    Reference<css::beans::XPropertySet> knownProps =
        before ? before->props : Reference<css::beans::XPropertySet>();
    auto props = [&]() -> const Reference<css::beans::XPropertySet>& {
        if (!knownProps.is())
            knownProps.set(cell, UNO_QUERY_THROW);
        return knownProps;
    };
    const TypedInput input = parseTypedInput(text);
    switch (input.kind) {
    case TypedInput::Kind::Formula: {
        if (!parenthesesBalance(input.text)) {
            m_lastError = QStringLiteral("\"%1\" is not a valid formula").arg(text);
            return false;
        }
        const Content old = before ? *before : content(cell);
        const double oldValue = old.type == css::table::CellContentType_VALUE ? cell->getValue() : 0.0;
        props()->setPropertyValue("FormulaLocal", Any(toOUString(input.text)));
        if (!isSyntaxError(cell->getError()))
            return true;
        // Put back exactly what was there.
        if (old.type == css::table::CellContentType_VALUE)
            cell->setValue(oldValue);
        else if (old.type == css::table::CellContentType_TEXT)
            Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->setString(toOUString(old.text));
        else if (old.type == css::table::CellContentType_FORMULA)
            props()->setPropertyValue("FormulaLocal", Any(toOUString(old.text)));
        else
            cell->setFormula(rtl::OUString());
        m_lastError = QStringLiteral("\"%1\" is not a valid formula").arg(text);
        return false;
    }
    case TypedInput::Kind::Number: {
        sal_Int32 format = 0;
        props()->getPropertyValue("NumberFormat") >>= format;
        cell->setValue(input.number);
        if (input.percent)
            props()->setPropertyValue("NumberFormat",
                                      Any(m_workbook->standardFormat(css::util::NumberFormat::PERCENT)));
        else if (m_workbook->isBooleanFormat(format))
            props()->setPropertyValue("NumberFormat",
                                      Any(m_workbook->standardFormat(css::util::NumberFormat::NUMBER)));
        return true;
    }
    case TypedInput::Kind::Boolean:
        cell->setValue(input.boolean ? 1.0 : 0.0);
        props()->setPropertyValue("NumberFormat",
                                  Any(m_workbook->standardFormat(css::util::NumberFormat::LOGICAL)));
        return true;
    case TypedInput::Kind::Text:
        if (input.text.isEmpty())
            cell->setFormula(rtl::OUString());
        else
            Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->setString(toOUString(input.text));
        return true;
    }
    return false;
}

void LibreOfficeSheet::enterFormulas(std::vector<FormulaWrite>& writes)
{
    // Calc tells the whole document of each call that changes a cell, and a workbook with many
    // formulas pays for that notice on every formula written one cell at a time; a block of
    // adjacent cells pays it once. Whatever a block write cannot take as it is goes cell by cell.
    std::vector<css::uno::Sequence<css::sheet::FormulaToken>> tokens(writes.size());
    std::vector<Reference<css::sheet::XFormulaTokens>> cellTokens(writes.size());
    std::vector<rtl::OUString> apiTexts(writes.size());
    std::vector<bool> inBlock(writes.size(), false);
    try {
        const FormulaTranslator translator(m_workbook->document(), sheetIndex());
        if (translator.usable()) {
            for (size_t i = 0; i < writes.size(); ++i) {
                FormulaWrite& w = writes[i];
                const TypedInput input = parseTypedInput(w.text);
                if (input.kind != TypedInput::Kind::Formula || input.text.size() < 2 ||
                    !parenthesesBalance(input.text))
                    continue;
                tokens[i] = translator.parse(input.text, w.address);
                if (!tokens[i].hasElements() || translator.unreadable(tokens[i]))
                    continue;
                // A new text that only spells the same formula differently ("sum(" for "SUM(",
                // a name in other letter case) leaves the cell as it is.
                cellTokens[i].set(w.before.props, UNO_QUERY_THROW);
                if (cellTokens[i]->getTokens() == tokens[i]) {
                    w.written = w.same = true;
                    continue;
                }
                apiTexts[i] = translator.apiText(tokens[i], w.address);
                inBlock[i] = true;
            }
        }
    } catch (const css::uno::Exception&) {
        // No parser: every formula goes the way of a single cell.
        std::fill(inBlock.begin(), inBlock.end(), false);
        for (FormulaWrite& w : writes)
            w.written = w.same = false;
    }

    // Rectangles of cells to write: runs along a row, stacked where the rows below hold a run
    // over the same columns.
    struct Block
    {
        int top = 0, bottom = 0, left = 0, right = 0;
        std::vector<size_t> cells; // row-major
    };
    std::vector<Block> blocks;
    std::map<std::pair<int, int>, size_t> open; // a block's columns -> the block, while it may grow
    for (size_t i = 0; i < writes.size();) {
        if (!inBlock[i]) {
            ++i;
            continue;
        }
        const CellAddress& first = writes[i].address;
        size_t j = i + 1;
        while (j < writes.size() && inBlock[j] && writes[j].address.row == first.row &&
               writes[j].address.column == writes[j - 1].address.column + 1)
            ++j;
        const int right = writes[j - 1].address.column;
        const auto key = std::make_pair(first.column, right);
        const auto grow = open.find(key);
        const int width = right - first.column + 1;
        if (grow != open.end() && blocks[grow->second].bottom == first.row - 1 &&
            (blocks[grow->second].bottom - blocks[grow->second].top + 2) * width <= kWriteBlockCells) {
            Block& b = blocks[grow->second];
            b.bottom = first.row;
            for (size_t k = i; k < j; ++k)
                b.cells.push_back(k);
        } else {
            Block b{first.row, first.row, first.column, right, {}};
            for (size_t k = i; k < j; ++k)
                b.cells.push_back(k);
            open[key] = blocks.size();
            blocks.push_back(std::move(b));
        }
        i = j;
    }

    for (const Block& b : blocks) {
        const Reference<css::table::XCellRange> range =
            m_sheet->getCellRangeByPosition(b.left - 1, b.top - 1, b.right - 1, b.bottom - 1);
        const int width = b.right - b.left + 1;
        css::uno::Sequence<css::uno::Sequence<rtl::OUString>> rows(b.bottom - b.top + 1);
        for (sal_Int32 r = 0; r < rows.getLength(); ++r)
            rows.getArray()[r].realloc(width);
        // Cells are written in row-major order, so each block's rows are filled in the same.
        for (const size_t i : b.cells)
            rows.getArray()[writes[i].address.row - b.top][writes[i].address.column - b.left] = apiTexts[i];
        try {
            Reference<css::sheet::XCellRangeFormula>(range, UNO_QUERY_THROW)->setFormulaArray(rows);
        } catch (const css::uno::RuntimeException&) {
            // Calc refuses a block that cuts through an array formula or a protected cell; such
            // cells are written one at a time, which reports each the way it always did.
            for (const size_t i : b.cells)
                inBlock[i] = false;
            continue;
        }
        std::unordered_set<qint64> errors;
        const Reference<css::sheet::XCellRangesQuery> query(range, UNO_QUERY);
        const Reference<css::sheet::XSheetCellRanges> errorCells =
            query.is() ? query->queryFormulaCells(css::sheet::FormulaResult::ERROR) : nullptr;
        if (errorCells.is())
            forEachCell(errorCells->getRangeAddresses(),
                        [&errors](int row, int column) { errors.insert(cellKey(row, column)); });
        for (const size_t i : b.cells) {
            FormulaWrite& w = writes[i];
            // What the API grammar made of the text must be the formula the cell would have
            // got from its own; anything else is written anew the usual way.
            if (cellTokens[i]->getTokens() != tokens[i]) {
                inBlock[i] = false;
                continue;
            }
            if (errors.count(cellKey(w.address.row, w.address.column)) != 0 &&
                isSyntaxError(w.cell->getError())) {
                w.before.props->setPropertyValue("FormulaLocal", Any(toOUString(w.before.text)));
                m_lastError = QStringLiteral("\"%1\" is not a valid formula").arg(w.text);
                continue;
            }
            w.written = true;
        }
    }
    for (size_t i = 0; i < writes.size(); ++i)
        if (!inBlock[i] && !writes[i].same)
            writes[i].written = enter(writes[i].cell, writes[i].text, &writes[i].before);
}

CellValue LibreOfficeSheet::value(const CellAddress& address)
{
    try {
        if (!reachable(address))
            return CellValue::empty();
        const Reference<css::table::XCell> c = cellAt(address);
        const Reference<css::beans::XPropertySet> props(c, UNO_QUERY_THROW);
        auto text = [&c] {
            return toQString(Reference<css::text::XTextRange>(c, UNO_QUERY_THROW)->getString());
        };
        auto number = [&] {
            sal_Int32 format = 0;
            props->getPropertyValue("NumberFormat") >>= format;
            return m_workbook->isBooleanFormat(format) ? CellValue::fromBoolean(c->getValue() != 0)
                                                       : CellValue::fromNumber(c->getValue());
        };
        switch (c->getType()) {
        case css::table::CellContentType_EMPTY:
            return CellValue::empty();
        case css::table::CellContentType_TEXT:
            return CellValue::fromText(textContent(c));
        case css::table::CellContentType_VALUE:
            return number();
        case css::table::CellContentType_FORMULA: {
            if (c->getError() != 0)
                return CellValue::fromError(text());
            sal_Int32 result = 0;
            props->getPropertyValue("FormulaResultType2") >>= result;
            if (result == kResultString)
                return CellValue::fromText(text());
            // A formula's boolean result carries no boolean format in Calc; it shows as one.
            const double v = c->getValue();
            rtl::OUString formulaText;
            props->getPropertyValue("FormulaLocal") >>= formulaText;
            if (!booleanConstant(toQString(formulaText)).isEmpty())
                return CellValue::fromBoolean(v != 0.0);
            if (v == 0.0 || v == 1.0) {
                const QString shown = text();
                if (shown == QLatin1String("TRUE") || shown == QLatin1String("FALSE"))
                    return CellValue::fromBoolean(v != 0.0);
            }
            return number();
        }
        default:
            return CellValue::empty();
        }
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return CellValue::empty();
    }
}

QString LibreOfficeSheet::formula(const CellAddress& address)
{
    try {
        if (!reachable(address))
            return {};
        return cellFormula(cellAt(address));
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return {};
    }
}

bool LibreOfficeSheet::setValue(const CellAddress& address, const QString& text)
{
    try {
        if (!reachable(address))
            return false;
        const Reference<css::table::XCell> cell = cellAt(address);
        // Calc's API writes into a protected sheet where its user could not; Excel refuses.
        if (locked(cell)) {
            m_lastError = QStringLiteral("the cell %1 is locked on a protected sheet").arg(cellName(address));
            return false;
        }
        return enter(cell, text);
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
}

bool LibreOfficeSheet::setFormula(const CellAddress& address, const QString& text)
{
    return setValue(address, text);
}

} // namespace corvane::automation::libreoffice
