// Reading and writing cells under LibreOffice: what a cell holds as Excel shows it, and writes
// by Excel's typed-input rules, neither of which Calc's API follows on its own.
#include "libreofficesheet.h"

#include "libreofficeworkbook.h"
#include "typedinput.h"

#include <QRegularExpression>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/NumberFormat.hpp>

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

LibreOfficeSheet::Content LibreOfficeSheet::content(const Reference<css::table::XCell>& cell)
{
    Content c;
    c.type = cell->getType();
    switch (c.type) {
    case css::table::CellContentType_TEXT:
        c.text = textContent(cell);
        break;
    case css::table::CellContentType_FORMULA: {
        c.props.set(cell, UNO_QUERY_THROW);
        rtl::OUString formula;
        c.props->getPropertyValue("FormulaLocal") >>= formula;
        const QString text = excelSheetReferences(toQString(formula));
        const QString boolean = booleanConstant(text);
        c.text = boolean.isEmpty() ? text : boolean;
        break;
    }
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
