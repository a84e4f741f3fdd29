// A find text with the application's wildcards: "*" any run, "?" one character, "~" escapes the
// next "*", "?" or "~". Letter case is ignored.
#pragma once

#include <QRegularExpression>
#include <QString>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::automation::native {

class SearchPattern
{
public:
    SearchPattern(const QString& what, bool wholeCell);

    // An empty find text matches nothing.
    bool isEmpty() const { return m_empty; }
    bool matches(const QString& text) const;
    // Without wildcards: the text to find, compared regardless of case (else null).
    const QString* literal() const { return m_literal ? &m_plain : nullptr; }
    // Replaces every non-overlapping occurrence, left to right; the inserted text is not
    // searched again. Returns the text unchanged when nothing matched.
    QString replaceAll(const QString& text, const QString& replacement) const;
    // Where replaceAll would replace: each occurrence's start and length, left to right.
    std::vector<std::pair<int, int>> occurrences(const QString& text) const;

    // Whether some text a number shows (General format: digits, ".", "E", "+", "-", or "#NUM!")
    // could match. When not, number cells need not be turned into text to be searched.
    bool mayMatchNumberText() const { return m_numberText; }
    // A run of the find text (lower-case UTF-8) that every match holds and that can only be
    // stored as these bytes, ASCII letters in either case: no character an XML escape stands for,
    // no "=", no letter with a look-alike outside ASCII that matches it regardless of case ("k"
    // and the Kelvin sign, "s" and the long s), nothing non-ASCII but caseless CJK. Empty when the
    // find text has no such run (wildcards alone, for example).
    const std::string& storedPiece() const { return m_piece; }
    // Whether `bytes` may hold a cell text that matches: they hold the stored piece, or they
    // hold something that decodes to other characters than it is written with (character
    // references, _xHHHH_ escapes, UTF-16). True when there is no stored piece.
    bool mayBeIn(std::string_view bytes) const;
    // Offsets in `bytes` (markup with character data) around which a matching text may be
    // stored, ascending: where the stored piece starts, where an _xHHHH_ escape starts, and the
    // first reference of each run of character data whose references decode to the piece. Every
    // offset lies inside the text that may match. Needs a stored piece.
    std::vector<std::size_t> placesIn(std::string_view bytes) const;
    // Whether a cell can match only through text it stores (in its own bytes or as a shared
    // string): there is a stored piece, and no number or boolean as shown (TRUE, FALSE) can match.
    bool needsStoredText() const { return m_needsStored; }

private:
    // Where the stored piece next occurs at or after `from`, npos when it does not.
    std::size_t nextPiece(std::string_view bytes, std::size_t from) const;
    bool decodedMayHold(std::string_view bytes) const;

    bool m_empty = false;
    bool m_whole = false;
    bool m_literal = false; // no wildcard: plain case-insensitive comparison
    QString m_plain;        // the unescaped text when literal
    QRegularExpression m_regex;
    bool m_numberText = true;
    std::string m_piece;
    std::vector<size_t> m_skip;
    bool m_needsStored = false;
};

} // namespace corvane::automation::native
