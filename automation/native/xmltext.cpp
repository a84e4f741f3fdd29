#include "xmltext.h"

#include "text/utf8.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace corvane::automation::native {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes one reference starting at raw[i] == '&'; returns the characters consumed (0 when it is
// not a reference, so the ampersand is kept literally).
size_t decodeReference(std::string_view raw, size_t i, std::string& out)
{
    const size_t semi = raw.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 12)
        return 0;
    const std::string_view name = raw.substr(i + 1, semi - i - 1);
    if (name == "lt")
        out += '<';
    else if (name == "gt")
        out += '>';
    else if (name == "amp")
        out += '&';
    else if (name == "quot")
        out += '"';
    else if (name == "apos")
        out += '\'';
    else if (name.size() >= 2 && name[0] == '#') {
        unsigned code = 0;
        const bool hex = name[1] == 'x' || name[1] == 'X';
        for (size_t k = hex ? 2 : 1; k < name.size(); ++k) {
            const int d = hex ? hexValue(name[k]) : (name[k] >= '0' && name[k] <= '9' ? name[k] - '0' : -1);
            if (d < 0 || code > 0x10FFFF)
                return 0;
            code = code * (hex ? 16 : 10) + static_cast<unsigned>(d);
        }
        if (code == 0 || code > 0x10FFFF)
            return 0;
        appendUtf8(out, code);
    } else {
        return 0;
    }
    return semi - i + 1;
}

std::string decodeToUtf8(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '&') {
            const size_t used = decodeReference(raw, i, out);
            if (used) {
                i += used - 1;
                continue;
            }
            out += c;
        } else if (c == '\r') {
            out += '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

bool needsDecoding(std::string_view raw)
{
    return raw.find_first_of("&\r") != std::string_view::npos;
}

} // namespace

QString decodeXml(std::string_view raw)
{
    if (!needsDecoding(raw))
        return QString::fromUtf8(raw.data(), static_cast<int>(raw.size()));
    const std::string s = decodeToUtf8(raw);
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

QString decodeCellText(std::string_view raw)
{
    QString text = decodeXml(raw);
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('_') && i + 6 < text.size() && text[i + 1] == QLatin1Char('x') &&
            text[i + 6] == QLatin1Char('_')) {
            bool ok = false;
            const uint code = text.midRef(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(static_cast<ushort>(code));
                i += 6;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string encodeXml(const QString& text, bool forAttribute)
{
    const QByteArray utf8 = text.toUtf8();
    std::string out;
    out.reserve(static_cast<size_t>(utf8.size()) + 8);
    for (const char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += forAttribute ? "&quot;" : "\"";
            break;
        case '\r':
            out += "&#13;";
            break;
        case '\n':
            out += forAttribute ? "&#10;" : "\n";
            break;
        case '\t':
            out += forAttribute ? "&#9;" : "\t";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string utf8String(const QString& text)
{
    const QByteArray b = text.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

std::string decodedUtf8(const char* raw)
{
    if (!std::strchr(raw, '&') && !std::strchr(raw, '\r'))
        return raw;
    return utf8String(decodeXml(raw));
}

std::string encodedXml(const std::string& text, bool forAttribute)
{
    return encodeXml(QString::fromUtf8(text.data(), static_cast<int>(text.size())), forAttribute);
}

std::string encodeCellText(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        const ushort u = ch.unicode();
        const bool control = (u < 0x20 && u != '\t' && u != '\n') || u == 0xFFFE || u == 0xFFFF;
        const bool looksEscaped = ch == QLatin1Char('_') && i + 6 < text.size() &&
                                  text[i + 1] == QLatin1Char('x') && text[i + 6] == QLatin1Char('_');
        if (control || looksEscaped) {
            bool hex = true;
            if (!control) {
                text.midRef(i + 2, 4).toUInt(&hex, 16);
            }
            if (control || hex) {
                escaped += QStringLiteral("_x%1_")
                               .arg(u, 4, 16, QLatin1Char('0'))
                               .toUpper()
                               .replace(QLatin1String("_X"), QLatin1String("_x"));
                continue;
            }
        }
        escaped += ch;
    }
    return encodeXml(escaped);
}

QString attributeText(const char* raw)
{
    return decodeXml(std::string_view(raw, std::strlen(raw)));
}

long long boundedInteger(const char* text, long long low, long long high, long long fallback)
{
    if (!text)
        return fallback;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (blank(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    if (*text < '0' || *text > '9')
        return fallback;
    // Beyond this the number is out of any range asked for: stop before the sum overflows.
    constexpr long long kCap = 1'000'000'000'000'000LL;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value < kCap)
            value = value * 10 + (*text - '0');
    }
    while (blank(*text))
        ++text;
    if (*text)
        return fallback;
    if (negative)
        value = -value;
    return value < low || value > high ? fallback : value;
}

double boundedReal(const char* text, double low, double high, double fallback)
{
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || std::isnan(value))
        return fallback;
    return std::clamp(value, low, high);
}

} // namespace corvane::automation::native
