// Reading a section of a format code into tokens and telling what kind of section it is: the
// grammar, apart from what rendering then makes of the tokens.
#include "numberformat.h"

#include <algorithm>

namespace corvane::automation::native {

namespace {

using Token = NumberFormat::Token;
using Type = NumberFormat::Token::Type;

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

} // namespace

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

} // namespace corvane::automation::native
