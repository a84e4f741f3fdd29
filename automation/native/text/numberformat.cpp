// A format code read into its sections, and the section a number takes; the parts of the work
// live beside it (numberformatparse, numberformatnumbers, numberformatdates, builtinformats).
#include "numberformat.h"

#include "chinesenumerals.h"
#include "numberdigits.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <string>

namespace corvane::automation::native {

namespace {

using Token = NumberFormat::Token;
using Type = NumberFormat::Token::Type;

QString stripZeros(const QString& ip, QString fp)
{
    while (!fp.isEmpty() && fp.endsWith(QLatin1Char('0')))
        fp.chop(1);
    QString out = ip.isEmpty() ? QStringLiteral("0") : ip;
    if (!fp.isEmpty())
        out += QLatin1Char('.') + fp;
    return out;
}

// "1.23457E+11": `decimals` places at most, trailing zeros dropped, two exponent digits at least.
QString scientificText(double a, int decimals)
{
    std::string digits;
    int point = 0;
    significantDigits(a, digits, point);
    int exponent = point - 1;
    QString ip, fp;
    roundedDigits(a / std::pow(10.0, exponent), decimals, ip, fp);
    if (ip.size() > 1) { // 9.999995 rounded up to 10
        ++exponent;
        roundedDigits(a / std::pow(10.0, exponent), decimals, ip, fp);
    }
    QString e = QString::number(std::abs(exponent));
    if (e.size() < 2)
        e.prepend(QLatin1Char('0'));
    return stripZeros(ip, fp) + QLatin1Char('E') + QLatin1Char(exponent < 0 ? '-' : '+') + e;
}

} // namespace

QString generalDisplayText(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    if (!std::isfinite(value))
        return QStringLiteral("#NUM!");
    // Most numbers already fit: their shortest 15-digit form is then what the cell shows.
    QString shortest = QString::number(value, 'g', 15);
    if (shortest.size() - (value < 0 ? 1 : 0) <= 11 && !shortest.contains(QLatin1Char('e')))
        return shortest;
    const double a = std::fabs(value);
    const QString sign = value < 0 ? QStringLiteral("-") : QString();
    std::string digits;
    int point = 0;
    significantDigits(a, digits, point);
    const int magnitude = point - 1; // floor(log10(a))
    QString ip, fp;
    if (magnitude >= -4 && magnitude <= -1) {
        roundedDigits(a, 9, ip, fp);
        return sign + stripZeros(ip, fp);
    }
    if (magnitude >= -9 && magnitude <= 9) {
        roundedDigits(a, 12, ip, fp);
        QString text = stripZeros(ip, fp);
        if (text.size() <= 11)
            return sign + text;
        // Ten significant digits.
        const int decimals = std::max(0, 10 - point);
        roundedDigits(a, decimals, ip, fp);
        text = stripZeros(ip, fp);
        if (text.size() <= 11)
            return sign + text;
        return sign + scientificText(a, 5);
    }
    if (magnitude == 10) {
        roundedDigits(a, 0, ip, fp);
        return sign + ip;
    }
    return sign + scientificText(a, 5);
}

NumberFormat::NumberFormat(const QString& code)
{
    // Split into sections at ";" outside quotes, escapes and brackets.
    QStringList parts;
    QString current;
    bool quoted = false;
    int bracket = 0;
    for (int i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (quoted) {
            if (c == QLatin1Char('"'))
                quoted = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char('\\') || c == QLatin1Char('_') || c == QLatin1Char('*')) {
            current += c;
            if (i + 1 < code.size())
                current += code[++i];
            continue;
        } else if (c == QLatin1Char('[')) {
            ++bracket;
        } else if (c == QLatin1Char(']')) {
            bracket = std::max(0, bracket - 1);
        } else if (c == QLatin1Char(';') && bracket == 0) {
            parts << current;
            current.clear();
            continue;
        }
        current += c;
    }
    parts << current;
    for (const QString& p : parts) {
        Section s;
        parseSection(p, s);
        classify(s);
        m_sections.push_back(std::move(s));
    }
    m_general = m_sections.size() == 1 && m_sections[0].kind == Section::Kind::General &&
                m_sections[0].tokens.size() == 1 && m_sections[0].dbnum == 0;
}

bool NumberFormat::conditionHolds(const Section& s, double v)
{
    const std::string op(s.conditionOp);
    const double c = s.conditionValue;
    if (op == "<")
        return v < c;
    if (op == "<=" || op == "=<")
        return v <= c;
    if (op == ">")
        return v > c;
    if (op == ">=" || op == "=>")
        return v >= c;
    if (op == "<>")
        return v != c;
    return v == c;
}

const NumberFormat::Section* NumberFormat::choose(double v, bool& showMinus) const
{
    // Number sections: the first three, a text section (the fourth, or one with "@") excluded.
    size_t count = 0;
    while (count < m_sections.size() && count < 3 && m_sections[count].kind != Section::Kind::Text)
        ++count;
    showMinus = v < 0;
    if (count == 0)
        return nullptr;
    const auto signByCondition = [&showMinus, v](const Section& s) {
        // A section kept for negative numbers by its condition shows them without the sign.
        const std::string op(s.conditionOp);
        showMinus = v < 0 && !((op == "<" || op == "<=") && s.conditionValue <= 0);
    };
    const bool conditions = m_sections[0].hasCondition || (count > 1 && m_sections[1].hasCondition);
    if (conditions) {
        if (m_sections[0].hasCondition && conditionHolds(m_sections[0], v)) {
            signByCondition(m_sections[0]);
            return &m_sections[0];
        }
        if (!m_sections[0].hasCondition && count == 1)
            return &m_sections[0];
        if (count < 2)
            return nullptr;
        const Section& second = m_sections[1];
        if (!second.hasCondition || conditionHolds(second, v)) {
            if (second.hasCondition)
                signByCondition(second);
            return &second;
        }
        return count >= 3 ? &m_sections[2] : nullptr;
    }
    if (count == 1)
        return &m_sections[0];
    if (v < 0) {
        showMinus = false;
        return &m_sections[1];
    }
    if (v == 0 && count >= 3)
        return &m_sections[2];
    return &m_sections[0];
}

QString NumberFormat::format(double value, bool date1904) const
{
    if (!std::isfinite(value))
        return QStringLiteral("#NUM!");
    bool minus = false;
    const Section* s = choose(value, minus);
    if (!s)
        return generalDisplayText(value);
    QString out;
    switch (s->kind) {
    case Section::Kind::Date:
        out = formatDate(*s, value, date1904);
        break;
    case Section::Kind::General:
        for (const Token& t : s->tokens) {
            if (t.type == Type::General)
                out += generalDisplayText(std::fabs(value));
            else if (t.type == Type::Literal)
                out += t.text;
        }
        out = (minus ? QStringLiteral("-") : QString()) + out;
        break;
    case Section::Kind::Text:
        return generalDisplayText(value);
    case Section::Kind::Fraction:
        out = (minus ? QStringLiteral("-") : QString()) + formatFraction(*s, value);
        break;
    case Section::Kind::Scientific:
        out = (minus ? QStringLiteral("-") : QString()) + formatScientific(*s, value);
        break;
    case Section::Kind::Number:
        out = (minus ? QStringLiteral("-") : QString()) + formatNumber(*s, value);
        break;
    }
    if (s->dbnum == 1 || s->dbnum == 2) {
        if (s->kind != Section::Kind::Date)
            out = chineseDigits(out, s->dbnum);
    }
    return out;
}

} // namespace corvane::automation::native
