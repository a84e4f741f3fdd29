// Splits A1-style formula text (as stored in a workbook's <f> elements and defined names) into
// tokens with their byte spans, so that reference rewrites can touch references and nothing else.
// The text is UTF-8; every character the grammar cares about is ASCII, so bytes of other
// characters only ever appear inside names, sheet names and literals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::automation::native::formula {

// One corner of a reference. row or column is 0 when the reference does not have that part
// (whole columns have no row, whole rows no column).
struct ReferenceEnd
{
    int row = 0;
    int column = 0;
    bool rowAbsolute = false;
    bool columnAbsolute = false;

    bool operator==(const ReferenceEnd& o) const
    {
        return row == o.row && column == o.column && rowAbsolute == o.rowAbsolute &&
               columnAbsolute == o.columnAbsolute;
    }
};

enum class ReferenceShape : std::uint8_t
{
    Cell,    // A1, $B$2
    Area,    // A1:B2
    Rows,    // 3:5, $1:$1
    Columns, // C:D
    Lost,    // #REF! after a sheet prefix: a reference already destroyed
    Name,    // a defined name behind a sheet or workbook prefix: Sheet1!Total, [1]!Rate
};

struct Reference
{
    ReferenceShape shape = ReferenceShape::Cell;
    ReferenceEnd first;
    ReferenceEnd last; // equals first for a single cell
    // Sheet prefix as written, without quotes; inside quotes '' still stands for one apostrophe.
    // Empty when the reference is unqualified.
    std::string_view sheet;
    std::string_view lastSheet; // second sheet of a 3-D prefix Sheet1:Sheet3!, else empty
    bool quoted = false;        // the prefix was written in apostrophes
    bool external = false;      // [1]Sheet1!A1: points into another workbook
    bool sheetLost = false;     // #REF!A1: the sheet was deleted
    bool repeatedSheet = false; // Sheet1!A1:Sheet1!B5: the second corner repeats the prefix
    // Offset of the address (the part after '!'); equals the token's begin when unqualified.
    std::size_t addressBegin = 0;

    bool hasSheet() const { return !sheet.empty(); }
    bool isThreeD() const { return !lastSheet.empty(); }
};

enum class TokenKind : std::uint8_t
{
    Reference,           // see Token::reference
    String,              // "text" with "" escapes
    Error,               // #N/A, #REF!, #DIV/0!, ...
    Number,              // 12, 1.5E+3, .5
    Function,            // SUM in SUM( — the name only, not the parenthesis
    Name,                // defined names, TRUE/FALSE, LET/LAMBDA parameters
    StructuredReference, // Table1[Col], [@Col], Table1[[#This Row],[A]:[B]]
    Other,               // operators, separators, parentheses, spaces, anything unrecognised
};

struct Token
{
    TokenKind kind = TokenKind::Other;
    std::size_t begin = 0; // byte offsets into the tokenized text, end exclusive
    std::size_t end = 0;
    Reference reference; // meaningful only for TokenKind::Reference
};

// Pull tokenizer; allocation-free. Tokens cover the text without gaps or overlaps, so the
// concatenation of all spans is the input. A leading "=" comes out as an Other token.
class Tokenizer
{
public:
    explicit Tokenizer(std::string_view text) : m_text(text) {}

    // Fills token with the next token; false at the end of the text.
    bool next(Token& token);

private:
    bool readQuotedPrefixReference(Token& token);
    bool readBracketStart(Token& token);
    bool readErrorOrLostReference(Token& token);
    bool readNumberOrRows(Token& token);
    bool readWord(Token& token);
    // Parses the address part behind a sheet prefix ending at pos (the '!' already consumed).
    bool readAddressAfterPrefix(Token& token, std::size_t pos);
    // Reads a cell, area, whole-row or whole-column reference starting at pos; on success fills
    // reference shape and corners and sets end. Does not consider what follows the reference.
    bool parseAddress(std::size_t pos, Reference& reference, std::size_t& end) const;
    std::size_t wordEnd(std::size_t pos) const;
    // Position after the ']' matching the '[' at pos, or npos.
    std::size_t bracketEnd(std::size_t pos) const;
    char at(std::size_t pos) const { return pos < m_text.size() ? m_text[pos] : '\0'; }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

// Parses exactly one cell ("$A$1"), column ("$C") or row ("12") word, used for the address
// grammar shared with range lists. Return false when the text is not exactly that.
bool parseCellWord(std::string_view word, ReferenceEnd& end);
bool parseColumnWord(std::string_view word, ReferenceEnd& end);
bool parseRowWord(std::string_view word, ReferenceEnd& end);

// Writes the address part of a reference (no sheet prefix) in the application's spelling:
// upper-case column letters, '$' where absolute. Lost shapes write "#REF!", names nothing.
void appendAddress(std::string& out, ReferenceShape shape, const ReferenceEnd& first,
                   const ReferenceEnd& last);

} // namespace corvane::automation::native::formula
