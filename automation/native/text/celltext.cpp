#include "celltext.h"

#include <QRegularExpression>

#include <cmath>

namespace corvane::automation::native {

QString generalNumberText(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    if (!std::isfinite(value))
        return QStringLiteral("#NUM!");
    QString s = QString::number(value, 'g', 15);
    const int e = s.indexOf(QLatin1Char('e'));
    if (e < 0)
        return s;
    // Qt writes "1e+20" / "1.5e-07"; the application writes "1E+20" / "1.5E-07".
    QString mantissa = s.left(e);
    QString exponent = s.mid(e + 1);
    const QChar sign = exponent.front();
    exponent = exponent.mid(1);
    while (exponent.size() > 2 && exponent.front() == QLatin1Char('0'))
        exponent.remove(0, 1);
    if (exponent.size() < 2)
        exponent.prepend(QLatin1Char('0'));
    return mantissa + QLatin1Char('E') + sign + exponent;
}

bool isErrorCode(const QString& code)
{
    static const char* const codes[] = {"#NULL!", "#DIV/0!", "#VALUE!",       "#REF!",   "#NAME?",
                                        "#NUM!",  "#N/A",    "#GETTING_DATA", "#SPILL!", "#CALC!"};
    for (const char* c : codes) {
        if (code.compare(QLatin1String(c), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool formulaLooksValid(const QString& formula)
{
    if (formula.trimmed().isEmpty())
        return false;
    int depth = 0;
    bool inString = false, inQuote = false;
    for (int i = 0; i < formula.size(); ++i) {
        const QChar c = formula[i];
        if (inString) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < formula.size() && formula[i + 1] == QLatin1Char('"'))
                    ++i;
                else
                    inString = false;
            }
        } else if (inQuote) {
            if (c == QLatin1Char('\'')) {
                if (i + 1 < formula.size() && formula[i + 1] == QLatin1Char('\''))
                    ++i;
                else
                    inQuote = false;
            }
        } else if (c == QLatin1Char('"')) {
            inString = true;
        } else if (c == QLatin1Char('\'')) {
            inQuote = true;
        } else if (c == QLatin1Char('(')) {
            ++depth;
        } else if (c == QLatin1Char(')')) {
            if (--depth < 0)
                return false;
        }
    }
    return depth == 0 && !inString && !inQuote;
}

bool parseTypedInput(const QString& text, CellInput& out)
{
    out = CellInput();
    if (text.isEmpty())
        return true;
    if (text.startsWith(QLatin1Char('\''))) {
        out.kind = CellInput::Kind::Text;
        out.text = text.mid(1);
        return true;
    }
    if (text.startsWith(QLatin1Char('='))) {
        const QString f = text.mid(1);
        if (!formulaLooksValid(f))
            return false;
        out.kind = CellInput::Kind::Formula;
        out.text = f;
        return true;
    }
    static const QRegularExpression number(
        QStringLiteral("^\\s*([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)\\s*(%?)\\s*$"));
    const auto m = number.match(text);
    if (m.hasMatch()) {
        bool ok = false;
        double v = m.captured(1).toDouble(&ok);
        if (ok && std::isfinite(v)) {
            if (!m.captured(2).isEmpty())
                v /= 100;
            out.kind = CellInput::Kind::Number;
            out.number = v;
            return true;
        }
    }
    if (text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
        text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
        out.kind = CellInput::Kind::Boolean;
        out.boolean = text.size() == 4;
        return true;
    }
    if (isErrorCode(text)) {
        out.kind = CellInput::Kind::Error;
        out.text = text.toUpper();
        return true;
    }
    out.kind = CellInput::Kind::Text;
    out.text = text;
    return true;
}

} // namespace corvane::automation::native
