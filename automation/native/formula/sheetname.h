// Sheet names as they appear in formula prefixes: when they must be written in apostrophes,
// quoting and unquoting, and the application's case-insensitive name comparison.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace corvane::automation::native::formula {

// True when the name must be written 'like this' in front of a reference: it starts with a
// digit, holds anything but letters, digits, '_' and '.', or could be read as a cell
// reference (A1, R1C1, R, C) or a boolean. Quoting is never wrong, so doubtful names are quoted.
bool sheetNameNeedsQuotes(std::string_view name);
bool sheetNameNeedsQuotes(const QString& name);
inline bool sheetNameNeedsQuotes(const char* name)
{
    return sheetNameNeedsQuotes(std::string_view(name));
}

// The name as it is written before the '!': quoted with doubled apostrophes when needed.
std::string quoteSheetName(std::string_view name);
QString quoteSheetName(const QString& name);
inline std::string quoteSheetName(const char* name)
{
    return quoteSheetName(std::string_view(name));
}

// The plain name of a written prefix part: "'It''s'" gives "It's"; an unquoted name is returned
// as it is.
std::string unquoteSheetName(std::string_view written);
QString unquoteSheetName(const QString& written);
inline std::string unquoteSheetName(const char* written)
{
    return unquoteSheetName(std::string_view(written));
}

// The application compares sheet names without regard to letter case (also outside ASCII).
bool sheetNamesEqual(std::string_view a, std::string_view b);
// Compares a name as written inside a prefix (quoted: with '' escapes) with a plain name.
bool writtenSheetNameEquals(std::string_view written, bool quoted, std::string_view name);

} // namespace corvane::automation::native::formula
