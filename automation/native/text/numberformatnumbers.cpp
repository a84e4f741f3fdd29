// Numbers under a number, scientific or fraction section: digits into the placeholders, grouping
// and scaling, the exponent, and the nearest fraction.
#include "numberformat.h"

#include "numberdigits.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace corvane::automation::native {

namespace {

using Token = NumberFormat::Token;
using Type = NumberFormat::Token::Type;

// Right to left into the digit placeholders of tokens [begin, end): the leftmost placeholder takes
// every digit left over, "0" pads with zeros, "?" with spaces, "#" with nothing.
QString integerText(const std::vector<Token>& tokens, size_t begin, size_t end, const QString& digits,
                    bool grouping)
{
    size_t first = end;
    for (size_t i = begin; i < end; ++i) {
        if (tokens[i].type == Type::Digit) {
            first = i;
            break;
        }
    }
    QString reversed; // built right to left
    int pos = digits.size();
    int emitted = 0;
    const auto emitDigit = [&](QChar c) {
        if (grouping && emitted > 0 && emitted % 3 == 0)
            reversed += QLatin1Char(',');
        reversed += c;
        ++emitted;
    };
    const auto emitText = [&reversed](const QString& t) {
        for (int k = t.size(); k-- > 0;)
            reversed += t[k];
    };
    for (size_t i = end; i-- > begin;) {
        const Token& t = tokens[i];
        if (t.type == Type::Digit) {
            if (pos > 0) {
                const int take = i == first ? pos : 1;
                for (int k = 0; k < take; ++k)
                    emitDigit(digits[--pos]);
            } else if (t.text == QLatin1String("0")) {
                emitDigit(QLatin1Char('0'));
            } else if (t.text == QLatin1String("?")) {
                reversed += QLatin1Char(' ');
            }
        } else if (t.type == Type::Percent) {
            reversed += QLatin1Char('%');
        } else if (t.type == Type::Literal) {
            emitText(t.text);
        }
    }
    if (first == end && pos > 0) // no placeholder: the digits still show
        emitText(digits.left(pos));
    std::reverse(reversed.begin(), reversed.end());
    return reversed;
}

// Left to right into the decimal placeholders of tokens [begin, end): trailing zeros vanish under
// "#" and turn into spaces under "?".
QString decimalText(const std::vector<Token>& tokens, size_t begin, size_t end, const QString& digits)
{
    int last = -1;
    for (int i = 0; i < digits.size(); ++i) {
        if (digits[i] != QLatin1Char('0'))
            last = i;
    }
    QString out;
    int j = 0;
    for (size_t i = begin; i < end; ++i) {
        const Token& t = tokens[i];
        if (t.type == Type::Digit) {
            if (j <= last)
                out += digits[j];
            else if (t.text == QLatin1String("0"))
                out += QLatin1Char('0');
            else if (t.text == QLatin1String("?"))
                out += QLatin1Char(' ');
            ++j;
        } else if (t.type == Type::Percent) {
            out += QLatin1Char('%');
        } else if (t.type == Type::Literal) {
            out += t.text;
        }
    }
    return out;
}

// The fraction nearest to x with a denominator up to maxDen, the smallest denominator on a tie:
// every denominator for small bounds, continued fractions for large ones.
void bestFraction(double x, long long maxDen, long long& num, long long& den)
{
    num = std::llround(x);
    den = 1;
    double best = std::fabs(x - double(num));
    if (maxDen <= 999) {
        for (long long d = 2; d <= maxDen; ++d) {
            const long long n = std::llround(x * double(d));
            const double err = std::fabs(x - double(n) / double(d));
            if (err < best - 1e-12) {
                best = err;
                num = n;
                den = d;
            }
        }
        return;
    }
    long long p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    double rest = x;
    for (int i = 0; i < 64; ++i) {
        const double a = std::floor(rest);
        if (a > 1e15)
            break;
        const long long ai = (long long)a;
        const long long q2 = q0 + ai * q1;
        if (q2 > maxDen)
            break;
        const long long p2 = p0 + ai * p1;
        p0 = p1, q0 = q1, p1 = p2, q1 = q2;
        const double frac = rest - a;
        if (frac < 1e-12)
            break;
        rest = 1 / frac;
    }
    if (q1 == 0)
        return;
    const long long k = (maxDen - q0) / q1;
    const long long pa = p0 + k * p1, qa = q0 + k * q1;
    const double errA = std::fabs(x - double(pa) / double(qa)), errB = std::fabs(x - double(p1) / double(q1));
    if (errB <= errA)
        num = p1, den = q1;
    else
        num = pa, den = qa;
}

QString literalsOf(const std::vector<Token>& tokens, size_t begin, size_t end)
{
    QString out;
    for (size_t i = begin; i < end; ++i) {
        if (tokens[i].type == Type::Literal)
            out += tokens[i].text;
        else if (tokens[i].type == Type::Percent)
            out += QLatin1Char('%');
    }
    return out;
}

} // namespace

QString NumberFormat::formatNumber(const Section& s, double value) const
{
    const auto& tokens = s.tokens;
    size_t point = tokens.size();
    bool anyDigit = false;
    int decimals = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].type == Type::Point && point == tokens.size())
            point = i;
        else if (tokens[i].type == Type::Digit) {
            anyDigit = true;
            if (point < i)
                ++decimals;
        }
    }
    if (!anyDigit && point == tokens.size())
        return literalsOf(tokens, 0, tokens.size());
    double v = std::fabs(value) * std::pow(100.0, s.percent) / std::pow(1000.0, s.scale);
    QString ip, fp;
    roundedDigits(v, decimals, ip, fp);
    QString out = integerText(tokens, 0, point, ip, s.grouping);
    if (point < tokens.size())
        out += QLatin1Char('.') + decimalText(tokens, point + 1, tokens.size(), fp);
    return out;
}

QString NumberFormat::formatScientific(const Section& s, double value) const
{
    const auto& tokens = s.tokens;
    size_t point = tokens.size(), exponent = tokens.size();
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].type == Type::Exponent) {
            exponent = i;
            break;
        }
        if (tokens[i].type == Type::Point && point == tokens.size())
            point = i;
    }
    const size_t intEnd = std::min(point, exponent);
    int intPlaces = 0, decimals = 0, expPlaces = 0;
    bool hash = false;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].type != Type::Digit)
            continue;
        if (i < intEnd) {
            ++intPlaces;
            hash = hash || tokens[i].text == QLatin1String("#");
        } else if (i < exponent) {
            ++decimals;
        } else if (tokens[i].text == QLatin1String("0")) {
            ++expPlaces;
        }
    }
    const double a = std::fabs(value) * std::pow(100.0, s.percent);
    int e = 0;
    QString ip, fp;
    if (a != 0) {
        std::string digits;
        int pointPos = 0;
        significantDigits(a, digits, pointPos);
        const int magnitude = pointPos - 1;
        const bool engineering = hash && intPlaces > 1;
        const int step = engineering ? intPlaces : 1;
        if (engineering)
            e = int(std::floor(double(magnitude) / intPlaces)) * intPlaces;
        else
            e = magnitude - std::max(intPlaces, 1) + 1;
        for (int round = 0; round < 2; ++round) {
            roundedDigits(a / std::pow(10.0, e), decimals, ip, fp);
            if (ip.size() <= std::max(intPlaces, 1))
                break;
            e += step;
        }
    } else {
        roundedDigits(0, decimals, ip, fp);
    }
    QString out = integerText(tokens, 0, intEnd, ip, s.grouping);
    if (point < exponent)
        out += QLatin1Char('.') + decimalText(tokens, point + 1, exponent, fp);
    if (exponent < tokens.size()) {
        const QString& mark = tokens[exponent].text;
        out += mark[0];
        if (e < 0)
            out += QLatin1Char('-');
        else if (mark[1] == QLatin1Char('+'))
            out += QLatin1Char('+');
        QString digits = QString::number(std::abs(e));
        while (digits.size() < expPlaces)
            digits.prepend(QLatin1Char('0'));
        out += digits + literalsOf(tokens, exponent + 1, tokens.size());
    }
    return out;
}

QString NumberFormat::formatFraction(const Section& s, double value) const
{
    const auto& tokens = s.tokens;
    size_t slash = 0;
    while (tokens[slash].type != Type::Slash)
        ++slash;
    // The numerator: the placeholders right before the slash.
    size_t numBegin = slash;
    while (numBegin > 0 && tokens[numBegin - 1].type == Type::Digit)
        --numBegin;
    bool hasInteger = false;
    for (size_t i = 0; i < numBegin; ++i)
        hasInteger = hasInteger || tokens[i].type == Type::Digit;
    // The literal between the integer and the numerator belongs to neither.
    size_t intEnd = numBegin;
    if (hasInteger) {
        while (intEnd > 0 && tokens[intEnd - 1].type != Type::Digit)
            --intEnd;
    }
    // The denominator: placeholders, or a number written out.
    size_t denEnd = slash + 1;
    QString fixed;
    int denPlaces = 0;
    QString denPattern;
    for (; denEnd < tokens.size(); ++denEnd) {
        const Token& t = tokens[denEnd];
        if (t.type == Type::Digit) {
            denPattern += t.text;
            fixed += t.text == QLatin1String("0") ? QStringLiteral("0") : QString();
            ++denPlaces;
        } else if (t.type == Type::Literal && !t.text.isEmpty() && t.text[0].isDigit()) {
            int k = 0;
            while (k < t.text.size() && t.text[k].isDigit())
                ++k;
            fixed += t.text.left(k);
            denPattern += t.text.left(k);
            if (k < t.text.size())
                break;
        } else {
            break;
        }
    }
    bool fixedDenominator = false;
    for (QChar c : fixed)
        fixedDenominator = fixedDenominator || (c.isDigit() && c != QLatin1Char('0'));
    const double a = std::fabs(value) * std::pow(100.0, s.percent);
    if (!(a < 1e15)) // beyond whole digits: no fraction to show
        return generalDisplayText(a);
    double whole = hasInteger ? std::floor(a) : 0;
    double rest = a - whole;
    long long num = 0, den = 1;
    if (fixedDenominator) {
        den = fixed.toLongLong();
        num = std::llround(rest * double(den));
    } else {
        const long long maxDen = denPlaces >= 1 ? (long long)(std::pow(10.0, std::min(denPlaces, 9))) - 1 : 9;
        bestFraction(rest, maxDen, num, den);
    }
    if (hasInteger && num == den) {
        whole += 1;
        num = 0;
    }
    QString wholeDigits;
    if (whole > 0)
        wholeDigits = QString::number(whole, 'f', 0);
    QString out;
    const QString numeratorPattern = [&] {
        QString p;
        for (size_t i = numBegin; i < slash; ++i)
            p += tokens[i].text;
        return p;
    }();
    if (hasInteger && num == 0) {
        // A whole number: the fraction's place stays blank.
        out = integerText(tokens, 0, intEnd, wholeDigits.isEmpty() ? QStringLiteral("0") : wholeDigits,
                          s.grouping);
        if (wholeDigits.isEmpty() && out.isEmpty())
            out = QStringLiteral("0");
        const int width = int(literalsOf(tokens, intEnd, numBegin).size() + numeratorPattern.size() + 1 +
                              denPattern.size());
        return out + QString(width, QLatin1Char(' ')) + literalsOf(tokens, denEnd, tokens.size());
    }
    if (hasInteger)
        out = integerText(tokens, 0, intEnd, wholeDigits, s.grouping) + literalsOf(tokens, intEnd, numBegin);
    else
        out = literalsOf(tokens, 0, numBegin);
    QString numText = QString::number(num);
    for (int i = numText.size(); i < numeratorPattern.size(); ++i) {
        const QChar p = numeratorPattern[numeratorPattern.size() - 1 - i];
        if (p == QLatin1Char('?'))
            numText.prepend(QLatin1Char(' '));
        else if (p == QLatin1Char('0'))
            numText.prepend(QLatin1Char('0'));
    }
    out += numText + QLatin1Char('/');
    if (fixedDenominator) {
        out += fixed;
    } else {
        QString denText = QString::number(den);
        for (int i = denText.size(); i < denPattern.size(); ++i) {
            if (denPattern[i] == QLatin1Char('?'))
                denText += QLatin1Char(' ');
        }
        out += denText;
    }
    return out + literalsOf(tokens, denEnd, tokens.size());
}

} // namespace corvane::automation::native
