#include "formulatokenizer.h"

#include "automation/celladdress.h"

#include <array>

namespace corvane::automation::native::formula {

namespace {

enum CharClass : std::uint8_t
{
    kWord = 1,      // may appear inside a name, sheet name or address word
    kNameStart = 2, // may start a name or address word
    kDigit = 4,
    kLetter = 8,
};

constexpr std::array<std::uint8_t, 256> makeClasses()
{
    std::array<std::uint8_t, 256> t{};
    for (int c = 'A'; c <= 'Z'; ++c) {
        t[c] = kWord | kNameStart | kLetter;
        t[c + 32] = kWord | kNameStart | kLetter;
    }
    for (int c = '0'; c <= '9'; ++c)
        t[c] = kWord | kDigit;
    t[static_cast<unsigned char>('_')] = kWord | kNameStart;
    t[static_cast<unsigned char>('\\')] = kWord | kNameStart;
    t[static_cast<unsigned char>('$')] = kWord | kNameStart;
    t[static_cast<unsigned char>('.')] = kWord;
    t[static_cast<unsigned char>('?')] = kWord;
    // Bytes of non-ASCII characters: letters of other scripts in names and sheet names.
    for (int c = 0x80; c <= 0xFF; ++c)
        t[c] = kWord | kNameStart;
    return t;
}

constexpr std::array<std::uint8_t, 256> kClasses = makeClasses();

inline bool has(char c, std::uint8_t cls)
{
    return (kClasses[static_cast<unsigned char>(c)] & cls) != 0;
}

inline char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// Error literals longest first where one is a prefix of another.
constexpr std::string_view kErrors[] = {
    "#NULL!",    "#DIV/0!",       "#VALUE!",   "#REF!",      "#NAME?",   "#NUM!",
    "#N/A",      "#GETTING_DATA", "#SPILL!",   "#CALC!",     "#FIELD!",  "#BLOCKED!",
    "#CONNECT!", "#BUSY!",        "#UNKNOWN!", "#EXTERNAL!", "#PYTHON!",
};

bool startsWithNoCase(std::string_view text, std::size_t pos, std::string_view what)
{
    if (text.size() - pos < what.size())
        return false;
    for (std::size_t i = 0; i < what.size(); ++i) {
        if (upper(text[pos + i]) != what[i])
            return false;
    }
    return true;
}

// Letters to a column number, 0 when not 1..3 letters within the sheet.
int columnValue(std::string_view word, std::size_t& i)
{
    int value = 0;
    int letters = 0;
    while (i < word.size() && has(word[i], kLetter)) {
        if (++letters > 3)
            return 0;
        value = value * 26 + (upper(word[i]) - 'A' + 1);
        ++i;
    }
    return letters > 0 && value <= kMaxColumns ? value : 0;
}

int rowValue(std::string_view word, std::size_t& i)
{
    int value = 0;
    int digits = 0;
    while (i < word.size() && has(word[i], kDigit)) {
        if (++digits > 7)
            return 0;
        value = value * 10 + (word[i] - '0');
        ++i;
    }
    return digits > 0 && value >= 1 && value <= kMaxRows ? value : 0;
}

} // namespace

bool parseCellWord(std::string_view word, ReferenceEnd& end)
{
    std::size_t i = 0;
    ReferenceEnd e;
    if (i < word.size() && word[i] == '$') {
        e.columnAbsolute = true;
        ++i;
    }
    e.column = columnValue(word, i);
    if (!e.column)
        return false;
    if (i < word.size() && word[i] == '$') {
        e.rowAbsolute = true;
        ++i;
    }
    e.row = rowValue(word, i);
    if (!e.row || i != word.size())
        return false;
    end = e;
    return true;
}

bool parseColumnWord(std::string_view word, ReferenceEnd& end)
{
    std::size_t i = 0;
    ReferenceEnd e;
    if (i < word.size() && word[i] == '$') {
        e.columnAbsolute = true;
        ++i;
    }
    e.column = columnValue(word, i);
    if (!e.column || i != word.size())
        return false;
    end = e;
    return true;
}

bool parseRowWord(std::string_view word, ReferenceEnd& end)
{
    std::size_t i = 0;
    ReferenceEnd e;
    if (i < word.size() && word[i] == '$') {
        e.rowAbsolute = true;
        ++i;
    }
    e.row = rowValue(word, i);
    if (!e.row || i != word.size())
        return false;
    end = e;
    return true;
}

std::size_t Tokenizer::wordEnd(std::size_t pos) const
{
    while (pos < m_text.size() && has(m_text[pos], kWord))
        ++pos;
    return pos;
}

bool Tokenizer::parseAddress(std::size_t pos, Reference& reference, std::size_t& end) const
{
    const std::size_t firstEnd = wordEnd(pos);
    if (firstEnd == pos)
        return false;
    const std::string_view firstWord = m_text.substr(pos, firstEnd - pos);
    const bool colon = at(firstEnd) == ':';
    std::string_view secondWord;
    std::size_t secondEnd = firstEnd;
    if (colon) {
        secondEnd = wordEnd(firstEnd + 1);
        const char after = at(secondEnd);
        // "A1:LOG10(" is a cell followed by a call, not an area.
        if (after != '(' && after != '[' && after != '!')
            secondWord = m_text.substr(firstEnd + 1, secondEnd - firstEnd - 1);
    }

    ReferenceEnd a;
    ReferenceEnd b;
    if (parseCellWord(firstWord, a)) {
        if (!secondWord.empty() && parseCellWord(secondWord, b)) {
            reference.shape = ReferenceShape::Area;
            reference.first = a;
            reference.last = b;
            end = secondEnd;
            return true;
        }
        reference.shape = ReferenceShape::Cell;
        reference.first = a;
        reference.last = a;
        end = firstEnd;
        return true;
    }
    if (secondWord.empty())
        return false;
    if (parseColumnWord(firstWord, a) && parseColumnWord(secondWord, b)) {
        reference.shape = ReferenceShape::Columns;
    } else if (parseRowWord(firstWord, a) && parseRowWord(secondWord, b)) {
        reference.shape = ReferenceShape::Rows;
    } else {
        return false;
    }
    reference.first = a;
    reference.last = b;
    end = secondEnd;
    return true;
}

bool Tokenizer::readAddressAfterPrefix(Token& token, std::size_t pos)
{
    Reference& ref = token.reference;
    std::size_t end = pos;
    if (startsWithNoCase(m_text, pos, "#REF!")) {
        ref.shape = ReferenceShape::Lost;
        end = pos + 5;
    } else if (parseAddress(pos, ref, end) && at(end) != '(' && at(end) != '[') {
        // "Sheet1!A1:Sheet1!B5" names one area although each corner carries the prefix.
        const std::string_view prefix = m_text.substr(token.begin, pos - token.begin);
        if (ref.shape == ReferenceShape::Cell && at(end) == ':' &&
            m_text.substr(end + 1, prefix.size()) == prefix) {
            const std::size_t cornerBegin = end + 1 + prefix.size();
            const std::size_t cornerEnd = wordEnd(cornerBegin);
            ReferenceEnd corner;
            const char after = at(cornerEnd);
            if (parseCellWord(m_text.substr(cornerBegin, cornerEnd - cornerBegin), corner) && after != '(' &&
                after != '[' && after != '!') {
                ref.shape = ReferenceShape::Area;
                ref.last = corner;
                ref.repeatedSheet = true;
                end = cornerEnd;
            }
        }
    } else if (pos < m_text.size() && has(m_text[pos], kNameStart)) {
        ref.shape = ReferenceShape::Name;
        ref.first = ref.last = ReferenceEnd{};
        end = wordEnd(pos);
    } else {
        return false;
    }
    ref.addressBegin = pos;
    token.kind = TokenKind::Reference;
    token.end = end;
    m_pos = end;
    return true;
}

bool Tokenizer::readQuotedPrefixReference(Token& token)
{
    std::size_t i = m_pos + 1;
    for (;;) {
        if (i >= m_text.size())
            return false;
        if (m_text[i] == '\'') {
            if (at(i + 1) != '\'')
                break;
            i += 2;
        } else {
            ++i;
        }
    }
    const std::size_t close = i;
    if (at(close + 1) != '!')
        return false;
    const std::string_view inner = m_text.substr(m_pos + 1, close - m_pos - 1);
    Reference& ref = token.reference;
    ref.quoted = true;
    if (inner.find('[') != std::string_view::npos) {
        ref.external = true;
        ref.sheet = inner;
    } else if (const std::size_t colon = inner.find(':'); colon != std::string_view::npos) {
        // Sheet names cannot hold ':', so inside quotes it separates the two ends of a 3-D range.
        ref.sheet = inner.substr(0, colon);
        ref.lastSheet = inner.substr(colon + 1);
    } else {
        ref.sheet = inner;
    }
    if (ref.sheet.empty())
        return false;
    return readAddressAfterPrefix(token, close + 2);
}

std::size_t Tokenizer::bracketEnd(std::size_t pos) const
{
    // Inside structured references an apostrophe escapes the next character, so "[a']b]" is
    // one column name.
    int depth = 0;
    while (pos < m_text.size()) {
        const char c = m_text[pos];
        if (c == '\'') {
            pos += 2;
            continue;
        }
        if (c == '[') {
            ++depth;
        } else if (c == ']' && --depth == 0) {
            return pos + 1;
        }
        ++pos;
    }
    return std::string_view::npos;
}

bool Tokenizer::readBracketStart(Token& token)
{
    const std::size_t close = bracketEnd(m_pos);
    if (close == std::string_view::npos)
        return false;

    Reference& ref = token.reference;
    std::size_t bangPos = std::string_view::npos;
    const std::size_t nameEnd = wordEnd(close);
    if (at(close) == '!') {
        bangPos = close;
    } else if (nameEnd > close && at(nameEnd) == '!') {
        bangPos = nameEnd;
    } else if (nameEnd > close && at(nameEnd) == ':') {
        const std::size_t lastEnd = wordEnd(nameEnd + 1);
        if (lastEnd > nameEnd + 1 && at(lastEnd) == '!') {
            ref.lastSheet = m_text.substr(nameEnd + 1, lastEnd - nameEnd - 1);
            bangPos = lastEnd;
        }
    }
    if (bangPos != std::string_view::npos) {
        ref.external = true;
        ref.sheet = m_text.substr(m_pos, (ref.lastSheet.empty() ? bangPos : nameEnd) - m_pos);
        if (readAddressAfterPrefix(token, bangPos + 1))
            return true;
        token.reference = Reference{};
    }
    token.kind = TokenKind::StructuredReference;
    token.end = close;
    m_pos = close;
    return true;
}

bool Tokenizer::readErrorOrLostReference(Token& token)
{
    for (const std::string_view error : kErrors) {
        if (!startsWithNoCase(m_text, m_pos, error))
            continue;
        const std::size_t end = m_pos + error.size();
        if (error == "#REF!") {
            // "#REF!A1" is what is left of a reference into a deleted sheet.
            Reference& ref = token.reference;
            std::size_t addressEnd = end;
            if (parseAddress(end, ref, addressEnd) && at(addressEnd) != '(' && at(addressEnd) != '[' &&
                !has(at(addressEnd), kWord)) {
                ref.sheetLost = true;
                ref.addressBegin = end;
                token.kind = TokenKind::Reference;
                token.end = addressEnd;
                m_pos = addressEnd;
                return true;
            }
            ref = Reference{};
        }
        token.kind = TokenKind::Error;
        token.end = end;
        m_pos = end;
        return true;
    }
    return false;
}

bool Tokenizer::readNumberOrRows(Token& token)
{
    if (has(m_text[m_pos], kDigit)) {
        std::size_t end = m_pos;
        if (parseAddress(m_pos, token.reference, end) && token.reference.shape == ReferenceShape::Rows &&
            at(end) != '(' && at(end) != '[' && at(end) != '!') {
            token.reference.addressBegin = m_pos;
            token.kind = TokenKind::Reference;
            token.end = end;
            m_pos = end;
            return true;
        }
        token.reference = Reference{};
    }
    std::size_t i = m_pos;
    while (has(at(i), kDigit))
        ++i;
    if (at(i) == '.') {
        ++i;
        while (has(at(i), kDigit))
            ++i;
    }
    if ((at(i) == 'E' || at(i) == 'e')) {
        std::size_t j = i + 1;
        if (at(j) == '+' || at(j) == '-')
            ++j;
        if (has(at(j), kDigit)) {
            while (has(at(j), kDigit))
                ++j;
            i = j;
        }
    }
    token.kind = TokenKind::Number;
    token.end = i;
    m_pos = i;
    return true;
}

bool Tokenizer::readWord(Token& token)
{
    const std::size_t firstEnd = wordEnd(m_pos);
    const std::string_view word = m_text.substr(m_pos, firstEnd - m_pos);
    const bool plainName = word.find('$') == std::string_view::npos && !has(word[0], kDigit);
    Reference& ref = token.reference;

    if (plainName && at(firstEnd) == '!') {
        ref.sheet = word;
        if (readAddressAfterPrefix(token, firstEnd + 1))
            return true;
        ref = Reference{};
    }
    if (plainName && at(firstEnd) == ':') {
        const std::size_t lastEnd = wordEnd(firstEnd + 1);
        if (lastEnd > firstEnd + 1 && at(lastEnd) == '!') {
            const std::string_view lastWord = m_text.substr(firstEnd + 1, lastEnd - firstEnd - 1);
            if (lastWord.find('$') == std::string_view::npos) {
                ref.sheet = word;
                ref.lastSheet = lastWord;
                if (readAddressAfterPrefix(token, lastEnd + 1))
                    return true;
                ref = Reference{};
            }
        }
    }

    std::size_t end = firstEnd;
    if (parseAddress(m_pos, ref, end)) {
        const char after = at(end);
        if (after != '(' && after != '[' && after != '!') {
            ref.addressBegin = m_pos;
            token.kind = TokenKind::Reference;
            token.end = end;
            m_pos = end;
            return true;
        }
        ref = Reference{};
    }

    end = firstEnd;
    if (at(firstEnd) == '(') {
        token.kind = TokenKind::Function;
    } else if (at(firstEnd) == '[') {
        // Table1[Col]: the bracket group belongs to the structured reference.
        const std::size_t close = bracketEnd(firstEnd);
        if (close != std::string_view::npos)
            end = close;
        token.kind = TokenKind::StructuredReference;
    } else {
        token.kind = TokenKind::Name;
    }
    token.end = end;
    m_pos = end;
    return true;
}

bool Tokenizer::next(Token& token)
{
    if (m_pos >= m_text.size())
        return false;
    token.begin = m_pos;
    token.reference = Reference{};
    const char c = m_text[m_pos];

    if (c == '"') {
        std::size_t i = m_pos + 1;
        while (i < m_text.size()) {
            if (m_text[i] == '"') {
                if (at(i + 1) != '"') {
                    ++i;
                    break;
                }
                i += 2;
            } else {
                ++i;
            }
        }
        token.kind = TokenKind::String;
        token.end = m_pos = std::min(i, m_text.size());
        return true;
    }
    if (c == '\'') {
        if (readQuotedPrefixReference(token))
            return true;
        // Apostrophes outside a sheet prefix: keep the quoted run together as plain text.
        token.reference = Reference{};
        std::size_t i = m_pos + 1;
        while (i < m_text.size() && m_text[i] != '\'')
            ++i;
        token.kind = TokenKind::Other;
        token.end = m_pos = std::min(i + 1, m_text.size());
        return true;
    }
    if (c == '[' && readBracketStart(token))
        return true;
    if (c == '#' && readErrorOrLostReference(token))
        return true;
    if (has(c, kDigit) || (c == '.' && has(at(m_pos + 1), kDigit)))
        return readNumberOrRows(token);
    if (has(c, kNameStart))
        return readWord(token);

    // Operators, separators, spaces: one run up to the next character that can start anything.
    std::size_t i = m_pos + 1;
    while (i < m_text.size()) {
        const char d = m_text[i];
        if (has(d, kWord) || d == '"' || d == '\'' || d == '[' || d == '#')
            break;
        ++i;
    }
    token.kind = TokenKind::Other;
    token.end = m_pos = i;
    return true;
}

namespace {

void appendColumn(std::string& out, const ReferenceEnd& e)
{
    if (e.columnAbsolute)
        out += '$';
    char letters[3];
    int n = 0;
    for (int c = e.column; c > 0 && n < 3; c = (c - 1) / 26)
        letters[n++] = static_cast<char>('A' + (c - 1) % 26);
    while (n > 0)
        out += letters[--n];
}

void appendRow(std::string& out, const ReferenceEnd& e)
{
    if (e.rowAbsolute)
        out += '$';
    char digits[8];
    int n = 0;
    for (int r = e.row; r > 0 && n < 8; r /= 10)
        digits[n++] = static_cast<char>('0' + r % 10);
    while (n > 0)
        out += digits[--n];
}

} // namespace

void appendAddress(std::string& out, ReferenceShape shape, const ReferenceEnd& first,
                   const ReferenceEnd& last)
{
    switch (shape) {
    case ReferenceShape::Cell:
        appendColumn(out, first);
        appendRow(out, first);
        break;
    case ReferenceShape::Area:
        appendColumn(out, first);
        appendRow(out, first);
        out += ':';
        appendColumn(out, last);
        appendRow(out, last);
        break;
    case ReferenceShape::Rows:
        appendRow(out, first);
        out += ':';
        appendRow(out, last);
        break;
    case ReferenceShape::Columns:
        appendColumn(out, first);
        out += ':';
        appendColumn(out, last);
        break;
    case ReferenceShape::Lost:
        out += "#REF!";
        break;
    case ReferenceShape::Name:
        break;
    }
}

} // namespace corvane::automation::native::formula
