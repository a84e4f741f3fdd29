#include "numberformat.h"

#include <QDate>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace corvane::automation::native {

namespace {

using Token = NumberFormat::Token;
using Type = NumberFormat::Token::Type;

// The 15 significant digits the application keeps of |value| (value = 0.digits * 10^point).
void significantDigits(double value, std::string& digits, int& point)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    digits.assign(1, buf[0]);
    digits.append(buf + 2, 14);
    point = std::atoi(std::strchr(buf, 'e') + 1) + 1;
}

// |value| rounded half away from zero to `decimals` places, from its 15 significant digits:
// the integer digits without leading zeros (empty for 0) and exactly `decimals` fraction digits.
void roundedDigits(double value, int decimals, QString& intPart, QString& fracPart)
{
    intPart.clear();
    fracPart = QString(decimals, QLatin1Char('0'));
    if (value == 0 || !std::isfinite(value))
        return;
    std::string digits;
    int point = 0;
    significantDigits(value, digits, point);
    const int keep = point + decimals;
    if (keep < 0)
        return;
    std::string kept;
    if (keep >= int(digits.size())) {
        kept = digits + std::string(size_t(keep) - digits.size(), '0');
    } else {
        kept = digits.substr(0, size_t(keep));
        if (digits[size_t(keep)] >= '5') {
            int i = keep - 1;
            while (i >= 0 && kept[size_t(i)] == '9')
                kept[size_t(i--)] = '0';
            if (i < 0) {
                kept.insert(0, "1");
                ++point;
            } else {
                ++kept[size_t(i)];
            }
        }
    }
    if (point < 0) {
        kept.insert(0, size_t(-point), '0');
        point = 0;
    }
    std::string ip = kept.substr(0, size_t(point));
    const size_t nz = ip.find_first_not_of('0');
    ip = nz == std::string::npos ? std::string() : ip.substr(nz);
    intPart = QString::fromLatin1(ip.c_str());
    fracPart = QString::fromLatin1(kept.substr(size_t(point)).c_str());
}

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

// Chinese numerals: DBNum1 一二三 with 十百千, DBNum2 壹贰叁 with 拾佰仟; "digitwise" spells each
// digit (years, decimals); "shortTens" leaves the 一 off 十 to 十九 (days, months).
QString chineseNumber(const QString& digits, int dbnum, bool digitwise, bool shortTens = false)
{
    static const QString lower = QStringLiteral("〇一二三四五六七八九");
    static const QString upper = QStringLiteral("零壹贰叁肆伍陆柒捌玖");
    const QString& names = dbnum == 2 ? upper : lower;
    if (digitwise || digits.size() > 16) {
        QString out;
        for (QChar c : digits)
            out += c.isDigit() ? names[c.digitValue()] : c;
        return out;
    }
    const QString units = dbnum == 2 ? QStringLiteral("拾佰仟") : QStringLiteral("十百千");
    const QString groups = QStringLiteral("万亿万");
    QString trimmed = digits;
    while (trimmed.size() > 1 && trimmed.startsWith(QLatin1Char('0')))
        trimmed.remove(0, 1);
    if (trimmed == QLatin1String("0"))
        return names.left(1);
    QString out;
    const int n = trimmed.size();
    bool pendingZero = false;
    for (int i = 0; i < n; ++i) {
        const int d = trimmed[i].digitValue();
        const int place = n - 1 - i; // power of ten
        const int inGroup = place % 4;
        if (d == 0) {
            pendingZero = true;
        } else {
            if (pendingZero && !out.isEmpty())
                out += names[0];
            pendingZero = false;
            // Days and months read 十五, other numbers 一十五.
            if (!(shortTens && dbnum != 2 && d == 1 && inGroup == 1 && out.isEmpty()))
                out += names[d];
            if (inGroup > 0)
                out += units[inGroup - 1];
        }
        if (inGroup == 0 && place > 0) {
            // A group of four ends: name it when it held a digit.
            const int start = std::max(0, i - 3);
            bool any = false;
            for (int k = start; k <= i; ++k)
                any = any || trimmed[k] != QLatin1Char('0');
            if (any || place % 8 == 0)
                out += groups[place / 4 - 1];
        }
    }
    return out;
}

// Every run of ASCII digits of `text` in Chinese numerals; a run after a decimal point digitwise.
QString chineseDigits(const QString& text, int dbnum)
{
    QString out;
    for (int i = 0; i < text.size();) {
        if (text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
            int j = i;
            while (j < text.size() && text[j] >= QLatin1Char('0') && text[j] <= QLatin1Char('9'))
                ++j;
            const bool decimals = i > 0 && text[i - 1] == QLatin1Char('.');
            out += chineseNumber(text.mid(i, j - i), dbnum, decimals);
            i = j;
        } else {
            out += text[i++];
        }
    }
    return out;
}

// Names (months, days, AM/PM) in Chinese: a Chinese locale tag, or none (the zh-CN system's).
bool isChineseLocale(int lcid)
{
    const int language = lcid & 0xFFFF;
    if (language == 0)
        return true;
    return language == 0x804 || language == 0x404 || language == 0xC04 || language == 0x1004 ||
           language == 0x1404;
}

bool isDateLetter(QChar c)
{
    switch (c.toLower().unicode()) {
    case 'y':
    case 'm':
    case 'd':
    case 'h':
    case 's':
    case 'e':
        return true;
    default:
        return false;
    }
}

bool isDateToken(Type t)
{
    switch (t) {
    case Type::Year:
    case Type::Month:
    case Type::Minute:
    case Type::Day:
    case Type::CjkDay:
    case Type::Hour:
    case Type::Second:
    case Type::SubSecond:
    case Type::Elapsed:
    case Type::AmPm:
        return true;
    default:
        return false;
    }
}

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

QString builtinFormatCode(int id)
{
    switch (id) {
    case 0:
        return QStringLiteral("General");
    case 1:
        return QStringLiteral("0");
    case 2:
        return QStringLiteral("0.00");
    case 3:
        return QStringLiteral("#,##0");
    case 4:
        return QStringLiteral("#,##0.00");
    case 5:
        return QStringLiteral("\"¥\"#,##0;\"¥\"\\-#,##0");
    case 6:
        return QStringLiteral("\"¥\"#,##0;[Red]\"¥\"\\-#,##0");
    case 7:
        return QStringLiteral("\"¥\"#,##0.00;\"¥\"\\-#,##0.00");
    case 8:
        return QStringLiteral("\"¥\"#,##0.00;[Red]\"¥\"\\-#,##0.00");
    case 9:
        return QStringLiteral("0%");
    case 10:
        return QStringLiteral("0.00%");
    case 11:
        return QStringLiteral("0.00E+00");
    case 12:
        return QStringLiteral("# ?/?");
    case 13:
        return QStringLiteral("# ?\?/?\?");
    case 14:
        return QStringLiteral("yyyy/m/d");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("yyyy/m/d h:mm");
    case 27:
    case 36:
    case 50:
    case 52:
    case 57:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 28:
    case 29:
    case 51:
    case 53:
    case 54:
    case 58:
        return QStringLiteral("m\"月\"d\"日\"");
    case 30:
        return QStringLiteral("m-d-yy");
    case 31:
        return QStringLiteral("yyyy\"年\"m\"月\"d\"日\"");
    case 32:
        return QStringLiteral("h\"时\"mm\"分\"");
    case 33:
        return QStringLiteral("h\"时\"mm\"分\"ss\"秒\"");
    case 34:
    case 55:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"");
    case 35:
    case 56:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"ss\"秒\"");
    // 37 to 40: the currency formats without a symbol, which the zh-CN application writes with a
    // minus sign rather than in parentheses.
    case 37:
        return QStringLiteral("#,##0;-#,##0");
    case 38:
        return QStringLiteral("#,##0;[Red]-#,##0");
    case 39:
        return QStringLiteral("#,##0.00;-#,##0.00");
    case 40:
        return QStringLiteral("#,##0.00;[Red]-#,##0.00");
    case 41:
        return QStringLiteral("_ * #,##0_ ;_ * \\-#,##0_ ;_ * \"-\"_ ;_ @_ ");
    case 42:
        return QStringLiteral("_ \"¥\"* #,##0_ ;_ \"¥\"* \\-#,##0_ ;_ \"¥\"* \"-\"_ ;_ @_ ");
    case 43:
        return QStringLiteral("_ * #,##0.00_ ;_ * \\-#,##0.00_ ;_ * \"-\"??_ ;_ @_ ");
    case 44:
        return QStringLiteral("_ \"¥\"* #,##0.00_ ;_ \"¥\"* \\-#,##0.00_ ;_ \"¥\"* \"-\"??_ ;_ @_ ");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mm:ss.0");
    case 48:
        return QStringLiteral("##0.0E+0");
    case 49:
        return QStringLiteral("@");
    default:
        return {};
    }
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

void NumberFormat::parseSection(const QString& text, Section& s)
{
    auto& tokens = s.tokens;
    const auto literal = [&tokens](const QString& t) {
        if (!tokens.empty() && tokens.back().type == Type::Literal)
            tokens.back().text += t;
        else
            tokens.push_back({Type::Literal, t, 0});
    };
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = text[i];
        const QChar lower = c.toLower();
        if (c == QLatin1Char('"')) {
            const int end = text.indexOf(QLatin1Char('"'), i + 1);
            literal(text.mid(i + 1, (end < 0 ? n : end) - i - 1));
            i = end < 0 ? n : end;
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 < n)
                literal(text.mid(++i, 1));
        } else if (c == QLatin1Char('_')) {
            ++i; // room the width of the next character: a space
            literal(QStringLiteral(" "));
        } else if (c == QLatin1Char('*')) {
            ++i; // a fill to the column's width, which a text has none of
        } else if (c == QLatin1Char('[')) {
            const int end = text.indexOf(QLatin1Char(']'), i + 1);
            const QString inner = text.mid(i + 1, (end < 0 ? n : end) - i - 1);
            i = end < 0 ? n : end;
            const QString li = inner.toLower();
            if (inner.startsWith(QLatin1Char('$'))) {
                const int dash = inner.indexOf(QLatin1Char('-'));
                const QString symbol = inner.mid(1, (dash < 0 ? inner.size() : dash) - 1);
                if (!symbol.isEmpty())
                    literal(symbol);
                if (dash >= 0) {
                    const uint tag = inner.mid(dash + 1).toUInt(nullptr, 16);
                    s.lcid = int(tag & 0xFFFF);
                    // The system's long date and time formats replace whatever the section says.
                    if (s.lcid == 0xF800 || s.lcid == 0xF400) {
                        const bool date = s.lcid == 0xF800;
                        s.tokens.clear();
                        s.lcid = 0x804;
                        parseSection(date ? QStringLiteral("yyyy\"年\"m\"月\"d\"日\"　dddd")
                                          : QStringLiteral("hh:mm:ss"),
                                     s);
                        return;
                    }
                }
            } else if (li.startsWith(QLatin1String("dbnum"))) {
                s.dbnum = li.mid(5).toInt();
            } else if (!inner.isEmpty() && (inner[0] == QLatin1Char('<') || inner[0] == QLatin1Char('>') ||
                                            inner[0] == QLatin1Char('='))) {
                int k = 0;
                while (k < inner.size() && k < 2 &&
                       (inner[k] == QLatin1Char('<') || inner[k] == QLatin1Char('>') ||
                        inner[k] == QLatin1Char('=')))
                    s.conditionOp[k] = char(inner[k].unicode()), ++k;
                bool ok = false;
                s.conditionValue = inner.mid(k).trimmed().toDouble(&ok);
                s.hasCondition = ok;
            } else if (!li.isEmpty() &&
                       (li[0] == QLatin1Char('h') || li[0] == QLatin1Char('m') ||
                        li[0] == QLatin1Char('s')) &&
                       li.count(li[0]) == li.size()) {
                tokens.push_back({Type::Elapsed, li.left(1), int(li.size())});
            }
            // Colours and other tags change nothing in the text.
        } else if (text.mid(i, 5).compare(QLatin1String("AM/PM"), Qt::CaseInsensitive) == 0) {
            tokens.push_back({Type::AmPm, text.mid(i, 5), 0});
            i += 4;
        } else if (text.mid(i, 3).compare(QLatin1String("A/P"), Qt::CaseInsensitive) == 0) {
            tokens.push_back({Type::AmPm, text.mid(i, 3), 0});
            i += 2;
        } else if (text.mid(i, 5) == QStringLiteral("上午/下午")) {
            tokens.push_back({Type::AmPm, text.mid(i, 5), 0});
            i += 4;
        } else if (text.mid(i, 7).compare(QLatin1String("General"), Qt::CaseInsensitive) == 0) {
            tokens.push_back({Type::General, QString(), 0});
            i += 6;
        } else if ((lower == QLatin1Char('e')) && i + 1 < n &&
                   (text[i + 1] == QLatin1Char('+') || text[i + 1] == QLatin1Char('-'))) {
            tokens.push_back({Type::Exponent, text.mid(i, 2), 0});
            ++i;
        } else if (lower == QLatin1Char('a') &&
                   text.mid(i, 3).compare(QLatin1String("aaa"), Qt::CaseInsensitive) == 0) {
            int k = i;
            while (k < n && text[k].toLower() == QLatin1Char('a'))
                ++k;
            tokens.push_back({Type::CjkDay, QString(), k - i});
            i = k - 1;
        } else if (isDateLetter(c)) {
            int k = i;
            while (k < n && text[k].toLower() == lower)
                ++k;
            const int w = k - i;
            i = k - 1;
            switch (lower.unicode()) {
            case 'y':
            case 'e':
                tokens.push_back({Type::Year, QString(), lower == QLatin1Char('e') || w > 2 ? 4 : 2});
                break;
            case 'm':
                tokens.push_back({Type::Month, QString(), std::min(w, 5)});
                break;
            case 'd':
                tokens.push_back({Type::Day, QString(), std::min(w, 4)});
                break;
            case 'h':
                tokens.push_back({Type::Hour, QString(), std::min(w, 2)});
                break;
            default:
                tokens.push_back({Type::Second, QString(), std::min(w, 2)});
                break;
            }
        } else if (c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char('?')) {
            tokens.push_back({Type::Digit, QString(c), 0});
        } else if (c == QLatin1Char('.')) {
            tokens.push_back({Type::Point, QString(), 0});
        } else if (c == QLatin1Char(',')) {
            tokens.push_back({Type::Comma, QString(), 0});
        } else if (c == QLatin1Char('%')) {
            tokens.push_back({Type::Percent, QString(), 0});
        } else if (c == QLatin1Char('/')) {
            tokens.push_back({Type::Slash, QString(), 0});
        } else if (c == QLatin1Char('@')) {
            tokens.push_back({Type::Text, QString(), 0});
        } else {
            literal(QString(c));
        }
    }
}

void NumberFormat::classify(Section& s)
{
    auto& tokens = s.tokens;
    bool date = false, general = false, text = false, digits = false, slash = false, exponent = false;
    for (const Token& t : tokens) {
        date = date || isDateToken(t.type);
        general = general || t.type == Type::General;
        text = text || t.type == Type::Text;
        digits = digits || t.type == Type::Digit;
        slash = slash || t.type == Type::Slash;
        exponent = exponent || t.type == Type::Exponent;
    }
    if (date) {
        s.kind = Section::Kind::Date;
        std::vector<Token> out;
        for (size_t i = 0; i < tokens.size(); ++i) {
            Token t = tokens[i];
            if (t.type == Type::Point && i + 1 < tokens.size() && tokens[i + 1].type == Type::Digit &&
                tokens[i + 1].text == QLatin1String("0")) {
                int w = 0;
                while (i + 1 < tokens.size() && tokens[i + 1].type == Type::Digit &&
                       tokens[i + 1].text == QLatin1String("0"))
                    ++w, ++i;
                t = {Type::SubSecond, QString(), std::min(w, 3)};
                s.subSecondDigits = std::max(s.subSecondDigits, t.width);
            } else if (t.type == Type::Point) {
                t = {Type::Literal, QStringLiteral("."), 0};
            } else if (t.type == Type::Slash) {
                t = {Type::Literal, QStringLiteral("/"), 0};
            } else if (t.type == Type::Comma) {
                t = {Type::Literal, QStringLiteral(","), 0};
            } else if (t.type == Type::Percent) {
                t = {Type::Literal, QStringLiteral("%"), 0};
            } else if (t.type == Type::Digit || t.type == Type::Exponent) {
                t = {Type::Literal, t.text, 0};
            } else if (t.type == Type::AmPm) {
                s.hour12 = true;
            }
            if (t.type == Type::Literal && !out.empty() && out.back().type == Type::Literal)
                out.back().text += t.text;
            else
                out.push_back(t);
        }
        tokens = std::move(out);
        // m and mm are minutes right after an hour or right before a second, literals between.
        for (size_t i = 0; i < tokens.size(); ++i) {
            if (tokens[i].type != Type::Month || tokens[i].width > 2)
                continue;
            bool minute = false;
            for (size_t k = i; k-- > 0;) {
                if (tokens[k].type == Type::Literal)
                    continue;
                minute = tokens[k].type == Type::Hour ||
                         (tokens[k].type == Type::Elapsed && tokens[k].text == QLatin1String("h"));
                break;
            }
            for (size_t k = i + 1; !minute && k < tokens.size(); ++k) {
                if (tokens[k].type == Type::Literal)
                    continue;
                minute = tokens[k].type == Type::Second ||
                         (tokens[k].type == Type::Elapsed && tokens[k].text == QLatin1String("s"));
                break;
            }
            if (minute)
                tokens[i].type = Type::Minute;
        }
        return;
    }
    if (general) {
        s.kind = Section::Kind::General;
    } else if (text && !digits) {
        s.kind = Section::Kind::Text;
    } else if (slash && digits) {
        s.kind = Section::Kind::Fraction;
    } else if (exponent && digits) {
        s.kind = Section::Kind::Scientific;
    } else {
        s.kind = Section::Kind::Number;
    }
    // Commas: between digit placeholders they group thousands; right after the last placeholder
    // of the integer or decimal part each divides by 1000; anywhere else they are text.
    size_t point = tokens.size();
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].type == Type::Point || tokens[i].type == Type::Exponent ||
            tokens[i].type == Type::Slash) {
            point = i;
            break;
        }
    }
    for (size_t i = 0; i < tokens.size(); ++i) {
        Token& t = tokens[i];
        if (t.type == Type::Percent)
            ++s.percent;
        if (t.type != Type::Comma)
            continue;
        const size_t regionEnd = i < point ? point : tokens.size();
        bool digitBefore = false, digitAfter = false;
        for (size_t k = i; k-- > 0;) {
            // Commas already read as grouping or scaling are empty literals by now.
            if (tokens[k].type == Type::Comma ||
                (tokens[k].type == Type::Literal && tokens[k].text.isEmpty()))
                continue;
            digitBefore = tokens[k].type == Type::Digit;
            break;
        }
        for (size_t k = i + 1; k < regionEnd; ++k) {
            if (tokens[k].type == Type::Digit)
                digitAfter = true;
            if (tokens[k].type == Type::Digit || tokens[k].type == Type::Point)
                break;
        }
        if (digitBefore && digitAfter && i < point) {
            s.grouping = true;
            t = {Type::Literal, QString(), 0};
        } else if (digitBefore && !digitAfter) {
            ++s.scale;
            t = {Type::Literal, QString(), 0};
        } else {
            t = {Type::Literal, QStringLiteral(","), 0};
        }
    }
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

QString NumberFormat::formatDate(const Section& s, double value, bool date1904) const
{
    // Round to the smallest unit shown, then split into days and the time of day.
    const double unitsPerSecond = std::pow(10.0, s.subSecondDigits);
    const long long perDay = (long long)(86400 * unitsPerSecond);
    // Outside the calendar (before year 1, after 9999) the application shows no date at all; the
    // number is shown as it is instead.
    if (!(value > -693593 && value < 2958466))
        return generalDisplayText(value);
    const long long units = std::llround(value * double(perDay));
    long long days = units / perDay;
    long long rem = units % perDay;
    if (rem < 0) {
        rem += perDay;
        --days;
    }
    const long long secondsOfDay = rem / (long long)unitsPerSecond;
    const long long subSecond = rem % (long long)unitsPerSecond;
    const int hour = int(secondsOfDay / 3600), minute = int(secondsOfDay / 60 % 60),
              second = int(secondsOfDay % 60);

    int year = 1900, month = 1, day = 0, weekday = 0; // weekday 0 = Sunday
    if (date1904) {
        const QDate d = QDate(1904, 1, 1).addDays(days);
        year = d.year(), month = d.month(), day = d.day();
        weekday = d.dayOfWeek() % 7;
    } else if (days == 60) {
        year = 1900, month = 2, day = 29; // the application's day that never was
        weekday = 3;
    } else if (days > 0 || days < 0) {
        const QDate d =
            days < 60 && days > 0 ? QDate(1899, 12, 31).addDays(days) : QDate(1899, 12, 30).addDays(days);
        year = d.year(), month = d.month(), day = d.day();
        weekday = days > 0 && days < 60 ? int((days + 6) % 7) : d.dayOfWeek() % 7;
    } else {
        weekday = 6; // day 0: "1900-01-00", a Saturday
    }

    if (month < 1 || month > 12)
        return generalDisplayText(value);
    const bool chinese = isChineseLocale(s.lcid) || s.dbnum > 0;
    static const char* const monthNames[] = {"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
    static const char* const dayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                           "Thursday", "Friday", "Saturday"};
    static const QString cjkDays = QStringLiteral("日一二三四五六");
    const auto number = [&s](long long n, int width, bool digitwise = false) {
        QString t = QString::number(n);
        while (t.size() < width)
            t.prepend(QLatin1Char('0'));
        if (s.dbnum == 1 || s.dbnum == 2)
            t = chineseNumber(t, s.dbnum, digitwise, true);
        return t;
    };
    const bool pm = hour >= 12;
    QString out;
    for (const Token& t : s.tokens) {
        switch (t.type) {
        case Type::Literal:
            out += t.text;
            break;
        case Type::Year:
            out += t.width == 2 ? number(year % 100, 2, true) : number(year, 4, true);
            break;
        case Type::Month:
            if (t.width <= 2) {
                out += number(month, t.width);
            } else if (chinese) {
                if (t.width == 4)
                    out += chineseNumber(QString::number(month), 1, false, true) + QStringLiteral("月");
                else if (t.width == 3)
                    out += QString::number(month) + QStringLiteral("月");
                else
                    out += chineseNumber(QString::number(month), 1, false, true).left(1);
            } else {
                const QString name = QLatin1String(monthNames[month - 1]);
                out += t.width == 3 ? name.left(3) : t.width == 4 ? name : name.left(1);
            }
            break;
        case Type::Minute:
            out += number(minute, t.width);
            break;
        case Type::Day:
            if (t.width <= 2) {
                out += number(day, t.width);
            } else if (chinese) {
                out += (t.width == 3 ? QString() : QStringLiteral("星期")) + cjkDays[weekday];
            } else {
                const QString name = QLatin1String(dayNames[weekday]);
                out += t.width == 3 ? name.left(3) : name;
            }
            break;
        case Type::CjkDay:
            out += (t.width >= 4 ? QStringLiteral("星期") : QString()) + cjkDays[weekday];
            break;
        case Type::Hour: {
            int h = hour;
            if (s.hour12) {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            out += number(h, t.width);
            break;
        }
        case Type::Second:
            out += number(second, t.width);
            break;
        case Type::SubSecond: {
            QString digits = QString::number(subSecond);
            while (digits.size() < s.subSecondDigits)
                digits.prepend(QLatin1Char('0'));
            out += QLatin1Char('.') + digits.left(t.width);
            break;
        }
        case Type::Elapsed: {
            const long long totalSeconds = units / (long long)unitsPerSecond;
            long long n = totalSeconds;
            if (t.text == QLatin1String("h"))
                n = totalSeconds / 3600;
            else if (t.text == QLatin1String("m"))
                n = totalSeconds / 60;
            out += number(n, t.width);
            break;
        }
        case Type::AmPm:
            if (t.text == QStringLiteral("上午/下午") || (isChineseLocale(s.lcid) && t.text.size() == 5))
                out += pm ? QStringLiteral("下午") : QStringLiteral("上午");
            else if (t.text.size() == 3) // A/P as written
                out += pm ? t.text.mid(2, 1) : t.text.left(1);
            else
                out += pm ? (t.text[0].isLower() ? QStringLiteral("pm") : QStringLiteral("PM"))
                          : (t.text[0].isLower() ? QStringLiteral("am") : QStringLiteral("AM"));
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace corvane::automation::native
