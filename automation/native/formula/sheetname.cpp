#include "sheetname.h"

namespace corvane::automation::native::formula {

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool equalsNoCaseAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// "A1", "xfd1048576", "AB12": letters then digits.
bool looksLikeCell(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size() && isAsciiLetter(s[i]))
        ++i;
    if (i == 0 || i > 3 || i == s.size())
        return false;
    for (std::size_t j = i; j < s.size(); ++j) {
        if (!isDigit(s[j]))
            return false;
    }
    return true;
}

// "R", "C", "R1", "C2", "RC", "R1C1", "r2c": readable as an R1C1 reference.
bool looksLikeR1C1(std::string_view s)
{
    std::size_t i = 0;
    bool any = false;
    if (i < s.size() && (s[i] == 'R' || s[i] == 'r')) {
        any = true;
        ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i;
    }
    if (i < s.size() && (s[i] == 'C' || s[i] == 'c')) {
        any = true;
        ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i;
    }
    return any && i == s.size();
}

} // namespace

bool sheetNameNeedsQuotes(std::string_view name)
{
    if (name.empty() || isDigit(name[0]))
        return true;
    bool ascii = true;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            continue;
        }
        if (!isAsciiLetter(c) && !isDigit(c) && c != '_' && c != '.')
            return true;
    }
    if (!ascii)
        return sheetNameNeedsQuotes(QString::fromUtf8(name.data(), static_cast<int>(name.size())));
    return looksLikeCell(name) || looksLikeR1C1(name) || equalsNoCaseAscii(name, "TRUE") ||
           equalsNoCaseAscii(name, "FALSE");
}

bool sheetNameNeedsQuotes(const QString& name)
{
    if (name.isEmpty() || name.at(0).isDigit())
        return true;
    for (const QChar ch : name) {
        if (ch.unicode() < 0x80) {
            const char c = static_cast<char>(ch.unicode());
            if (!isAsciiLetter(c) && !isDigit(c) && c != '_' && c != '.')
                return true;
        } else if (!ch.isLetterOrNumber() && !ch.isMark()) {
            // Full-width punctuation, spaces and symbols of other scripts.
            return true;
        }
    }
    const QByteArray utf8 = name.toUtf8();
    const std::string_view s(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    return looksLikeCell(s) || looksLikeR1C1(s) || equalsNoCaseAscii(s, "TRUE") ||
           equalsNoCaseAscii(s, "FALSE");
}

std::string quoteSheetName(std::string_view name)
{
    if (!sheetNameNeedsQuotes(name))
        return std::string(name);
    std::string out;
    out.reserve(name.size() + 4);
    out += '\'';
    for (const char c : name) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    out += '\'';
    return out;
}

QString quoteSheetName(const QString& name)
{
    if (!sheetNameNeedsQuotes(name))
        return name;
    QString inner = name;
    inner.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

std::string unquoteSheetName(std::string_view written)
{
    if (written.size() < 2 || written.front() != '\'' || written.back() != '\'')
        return std::string(written);
    std::string out;
    const std::string_view inner = written.substr(1, written.size() - 2);
    out.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (inner[i] == '\'' && i + 1 < inner.size() && inner[i + 1] == '\'')
            ++i;
    }
    return out;
}

QString unquoteSheetName(const QString& written)
{
    const QByteArray utf8 = written.toUtf8();
    const std::string plain =
        unquoteSheetName(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    return QString::fromUtf8(plain.data(), static_cast<int>(plain.size()));
}

bool sheetNamesEqual(std::string_view a, std::string_view b)
{
    bool ascii = true;
    if (a.size() == b.size()) {
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (static_cast<unsigned char>(a[i]) >= 0x80 || static_cast<unsigned char>(b[i]) >= 0x80) {
                ascii = false;
                break;
            }
            if (lower(a[i]) != lower(b[i]))
                return false;
        }
        if (ascii)
            return true;
    } else {
        // Different byte lengths can still be equal names once case is folded outside ASCII.
        for (const char c : a) {
            if (static_cast<unsigned char>(c) >= 0x80) {
                ascii = false;
                break;
            }
        }
        if (ascii) {
            for (const char c : b) {
                if (static_cast<unsigned char>(c) >= 0x80) {
                    ascii = false;
                    break;
                }
            }
        }
        if (ascii)
            return false;
    }
    const QString qa = QString::fromUtf8(a.data(), static_cast<int>(a.size()));
    const QString qb = QString::fromUtf8(b.data(), static_cast<int>(b.size()));
    return qa.compare(qb, Qt::CaseInsensitive) == 0;
}

bool writtenSheetNameEquals(std::string_view written, bool quoted, std::string_view name)
{
    if (!quoted || written.find('\'') == std::string_view::npos)
        return sheetNamesEqual(written, name);
    std::string plain;
    plain.reserve(written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        plain += written[i];
        if (written[i] == '\'' && i + 1 < written.size() && written[i + 1] == '\'')
            ++i;
    }
    return sheetNamesEqual(plain, name);
}

} // namespace corvane::automation::native::formula
