// Text conversions between raw XML character data (kept undecoded in the DOM, so that every
// untouched byte of a part is written back as it was read) and the cell texts users see.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace corvane::automation::native {

// Decodes entity and character references and XML line ends of raw character data.
QString decodeXml(std::string_view raw);
// Like decodeXml, then also the _xHHHH_ escapes spreadsheet strings use for control characters.
QString decodeCellText(std::string_view raw);

// Escapes text for character data ("&", "<", ">") or, with forAttribute, for a double-quoted
// attribute value.
std::string encodeXml(const QString& text, bool forAttribute = false);
// The same on UTF-8 strings, for code that edits raw DOM text in place: a text's UTF-8 bytes,
// raw character data decoded (returned as it is when it holds no reference and no CR), and text
// escaped for character data or an attribute.
std::string utf8String(const QString& text);
std::string decodedUtf8(const char* raw);
std::string encodedXml(const std::string& text, bool forAttribute);
// Escapes control characters as _xHHHH_ (and a literal "_x" that would read as one) first.
std::string encodeCellText(const QString& text);

// A decimal integer read from a file (blanks around it allowed), or `fallback` when the text is
// none or the number lies outside [low, high]: a number from a file is bounded before any
// arithmetic is done with it.
long long boundedInteger(const char* text, long long low, long long high, long long fallback);
inline int boundedInt(const char* text, int low, int high, int fallback)
{
    return static_cast<int>(boundedInteger(text, low, high, fallback));
}
// A number of points, pixels or characters read from a file, or `fallback` when it is none (or
// not a number); clamped to [low, high].
double boundedReal(const char* text, double low, double high, double fallback);

// Attribute values as the DOM keeps them: raw, so they are decoded on reading.
QString attributeText(const char* raw);

// The offset after the '>' of the tag starting at s[pos], quotes respected; npos when unclosed.
inline std::size_t tagEnd(std::string_view s, size_t pos, bool& selfClosing)
{
    char quote = 0;
    for (std::size_t i = pos + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            selfClosing = s[i - 1] == '/';
            return i + 1;
        } else if (c == '<') {
            return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

} // namespace corvane::automation::native
