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
// Escapes control characters as _xHHHH_ (and a literal "_x" that would read as one) first.
std::string encodeCellText(const QString& text);

// Attribute values as the DOM keeps them: raw, so they are decoded on reading.
QString attributeText(const char* raw);

} // namespace corvane::automation::native
