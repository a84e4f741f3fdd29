#include "searchpattern.h"

#include "utf8.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::automation::native {

namespace {

bool isCaselessCjk(char32_t c)
{
    return (c >= 0x3040 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF);
}

// Stored as itself in every part and matched only by itself or its ASCII other case.
bool isStoredAsItself(char32_t c)
{
    if (c >= 0x80)
        return isCaselessCjk(c);
    if (c < 0x20 || c == 0x7F)
        return false;
    switch (c) {
    case '&':
    case '<':
    case '>':
    case '"':
    case '\'':
    case '=':
    case 'k':
    case 'K':
    case 's':
    case 'S':
        return false;
    default:
        return true;
    }
}

std::string lowerUtf8(const QString& run)
{
    QByteArray utf8 = run.toUtf8();
    std::string out(utf8.constData(), static_cast<size_t>(utf8.size()));
    for (char& ch : out) {
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    }
    return out;
}

bool holdsHexEscape(std::string_view bytes)
{
    for (size_t at = bytes.find("_x"); at != std::string_view::npos; at = bytes.find("_x", at + 1)) {
        if (at + 6 < bytes.size() && bytes[at + 6] == '_' &&
            std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(at + 2),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + 6),
                        [](char ch) { return std::isxdigit(static_cast<unsigned char>(ch)) != 0; }))
            return true;
    }
    return false;
}

// A numeric character reference (&#110; or &#x6E;) at bytes[i], appended as UTF-8: the bytes
// it takes, 0 when there is none.
size_t decodeNumericReference(std::string_view bytes, size_t i, std::string& out)
{
    if (bytes.compare(i, 2, "&#") != 0)
        return 0;
    const bool hex = i + 2 < bytes.size() && (bytes[i + 2] == 'x' || bytes[i + 2] == 'X');
    size_t k = i + (hex ? 3 : 2);
    const size_t digits = k;
    char32_t code = 0;
    for (; k < bytes.size(); ++k) {
        const char c = bytes[k];
        const int d = c >= '0' && c <= '9'          ? c - '0'
                      : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : -1;
        if (d < 0)
            break;
        code = code * (hex ? 16 : 10) + static_cast<char32_t>(d);
        if (code > 0x10FFFF)
            return 0;
    }
    if (k == digits || k >= bytes.size() || bytes[k] != ';' || code == 0 || code > 0x10FFFF)
        return 0;
    appendUtf8(out, code);
    return k + 1 - i;
}

} // namespace

SearchPattern::SearchPattern(const QString& what, bool wholeCell) : m_whole(wholeCell)
{
    m_empty = what.isEmpty();
    QString plain, regex;
    bool wild = false;
    for (int i = 0; i < what.size(); ++i) {
        const QChar c = what[i];
        if (c == QLatin1Char('~') && i + 1 < what.size() &&
            (what[i + 1] == QLatin1Char('*') || what[i + 1] == QLatin1Char('?') ||
             what[i + 1] == QLatin1Char('~'))) {
            plain += what[i + 1];
            regex += QRegularExpression::escape(QString(what[i + 1]));
            ++i;
        } else if (c == QLatin1Char('*')) {
            wild = true;
            regex += QLatin1String(".*");
        } else if (c == QLatin1Char('?')) {
            wild = true;
            regex += QLatin1Char('.');
        } else {
            plain += c;
            regex += QRegularExpression::escape(QString(c));
        }
    }
    m_literal = !wild;
    m_plain = plain;
    // What every match must hold: the literal runs between wildcards.
    std::vector<QString> runs;
    {
        QString run;
        for (int i = 0; i < what.size(); ++i) {
            const QChar c = what[i];
            if (c == QLatin1Char('~') && i + 1 < what.size() &&
                (what[i + 1] == QLatin1Char('*') || what[i + 1] == QLatin1Char('?') ||
                 what[i + 1] == QLatin1Char('~'))) {
                run += what[++i];
            } else if (c == QLatin1Char('*') || c == QLatin1Char('?')) {
                if (!run.isEmpty())
                    runs.push_back(run);
                run.clear();
            } else {
                run += c;
            }
        }
        if (!run.isEmpty())
            runs.push_back(run);
    }
    static const QString numberChars = QStringLiteral("0123456789.e+-#num!");
    for (const QString& run : runs) {
        for (const QChar c : run) {
            if (!numberChars.contains(c.toLower()))
                m_numberText = false;
        }
        const QVector<uint> points = run.toUcs4();
        QString stored;
        for (int i = 0; i <= points.size(); ++i) {
            if (i < points.size() && isStoredAsItself(points[i])) {
                stored += QString::fromUcs4(&points[i], 1);
                continue;
            }
            const std::string piece = lowerUtf8(stored);
            if (piece.size() > m_piece.size())
                m_piece = piece;
            stored.clear();
        }
    }
    // Horspool's shifts for the piece, ASCII letters in either case.
    const size_t n = m_piece.size();
    m_skip.assign(256, n);
    for (size_t i = 0; i + 1 < n; ++i) {
        const auto ch = static_cast<unsigned char>(m_piece[i]);
        m_skip[ch] = n - 1 - i;
        if (ch >= 'a' && ch <= 'z')
            m_skip[ch - 'a' + 'A'] = n - 1 - i;
    }
    m_needsStored = !m_piece.empty() && !m_numberText &&
                    std::string_view("true").find(m_piece) == std::string_view::npos &&
                    std::string_view("false").find(m_piece) == std::string_view::npos;
    if (wild) {
        if (wholeCell)
            regex = QLatin1String("\\A(?:") + regex + QLatin1String(")\\z");
        m_regex.setPattern(regex);
        m_regex.setPatternOptions(QRegularExpression::CaseInsensitiveOption |
                                  QRegularExpression::DotMatchesEverythingOption |
                                  QRegularExpression::UseUnicodePropertiesOption);
        m_regex.optimize();
    }
}

bool SearchPattern::mayBeIn(std::string_view bytes) const
{
    if (m_piece.empty())
        return true;
    if (bytes.size() >= 2 &&
        (bytes[0] == '\xFF' || bytes[0] == '\xFE' || bytes[0] == '\0' || bytes[1] == '\0'))
        return true;
    if (nextPiece(bytes, 0) != std::string_view::npos || holdsHexEscape(bytes))
        return true;
    // Some writers store every character outside ASCII as a numeric reference: the piece is
    // looked for again with those decoded, as decoding the text would give them.
    return bytes.find("&#") != std::string_view::npos && decodedMayHold(bytes);
}

std::vector<std::size_t> SearchPattern::placesIn(std::string_view bytes) const
{
    std::vector<std::size_t> out;
    for (size_t at = nextPiece(bytes, 0); at != std::string_view::npos; at = nextPiece(bytes, at + 1))
        out.push_back(at);
    for (size_t at = bytes.find("_x"); at != std::string_view::npos; at = bytes.find("_x", at + 1)) {
        if (holdsHexEscape(bytes.substr(at, 7)))
            out.push_back(at);
    }
    // A piece made partly of references lies in one run of character data (no character it
    // holds is "<" or ">"), and one of them stands for a character of the piece or for ASCII
    // (an escape may be written with references). Other runs were searched as they are.
    for (size_t amp = bytes.find("&#"); amp != std::string_view::npos;) {
        size_t end = amp;
        while (end < bytes.size() && bytes[end] != '<' && bytes[end] != '>')
            ++end;
        bool relevant = false;
        std::string character;
        for (size_t ref = amp; ref < end && !relevant; ref = bytes.find("&#", ref + 1)) {
            character.clear();
            if (decodeNumericReference(bytes, ref, character))
                relevant = character.size() == 1 || m_piece.find(character) != std::string::npos;
        }
        if (relevant) {
            size_t begin = amp;
            while (begin > 0 && bytes[begin - 1] != '<' && bytes[begin - 1] != '>')
                --begin;
            if (decodedMayHold(bytes.substr(begin, end - begin)))
                out.push_back(amp);
        }
        amp = end >= bytes.size() ? std::string_view::npos : bytes.find("&#", end);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool SearchPattern::decodedMayHold(std::string_view bytes) const
{
    thread_local std::string decoded;
    decoded.clear();
    for (size_t i = 0; i < bytes.size();) {
        const size_t amp = std::min(bytes.find('&', i), bytes.size());
        decoded.append(bytes.data() + i, amp - i);
        if (amp == bytes.size())
            break;
        const size_t used = decodeNumericReference(bytes, amp, decoded);
        if (!used)
            decoded += '&';
        i = amp + std::max<size_t>(used, 1);
    }
    return nextPiece(decoded, 0) != std::string_view::npos || holdsHexEscape(decoded);
}

size_t SearchPattern::nextPiece(std::string_view bytes, size_t from) const
{
    const auto fold = [](unsigned char ch) { return ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch; };
    const size_t n = m_piece.size();
    const auto pieceAt = [&](size_t at) {
        for (size_t i = 0; i < n; ++i) {
            if (fold(static_cast<unsigned char>(bytes[at + i])) != static_cast<unsigned char>(m_piece[i]))
                return false;
        }
        return true;
    };
    size_t at = from;
#if defined(__SSE2__)
    // Sixteen places at a time: where the first and the last byte of the piece both fit, with
    // the letter-case bit set on both sides (a superset of the places where it may start).
    if (n > 0) {
        const __m128i caseBit = _mm_set1_epi8(0x20);
        const __m128i first = _mm_set1_epi8(static_cast<char>(m_piece.front() | 0x20));
        const __m128i last = _mm_set1_epi8(static_cast<char>(m_piece.back() | 0x20));
        for (; at + n - 1 + 16 <= bytes.size(); at += 16) {
            const auto* p = reinterpret_cast<const __m128i*>(bytes.data() + at);
            const __m128i a = _mm_or_si128(_mm_loadu_si128(p), caseBit);
            const __m128i b = _mm_or_si128(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at + n - 1)), caseBit);
            auto mask = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
            for (; mask; mask &= mask - 1) {
                const size_t candidate = at + static_cast<size_t>(__builtin_ctz(mask));
                if (pieceAt(candidate))
                    return candidate;
            }
        }
    }
#endif
    // Horspool's search, ASCII letters folded.
    while (at + n <= bytes.size()) {
        if (pieceAt(at))
            return at;
        at += m_skip[static_cast<unsigned char>(bytes[at + n - 1])];
    }
    return std::string_view::npos;
}

bool SearchPattern::matches(const QString& text) const
{
    if (m_empty || text.isEmpty())
        return false;
    if (m_literal) {
        return m_whole ? text.compare(m_plain, Qt::CaseInsensitive) == 0
                       : text.contains(m_plain, Qt::CaseInsensitive);
    }
    const auto m = m_regex.match(text);
    return m.hasMatch() && m.capturedLength() > 0;
}

QString SearchPattern::replaceAll(const QString& text, const QString& replacement) const
{
    if (m_empty || text.isEmpty())
        return text;
    if (m_literal) {
        if (m_whole)
            return text.compare(m_plain, Qt::CaseInsensitive) == 0 ? replacement : text;
        int from = text.indexOf(m_plain, 0, Qt::CaseInsensitive);
        if (from < 0)
            return text;
        QString out;
        int last = 0;
        while (from >= 0) {
            out += text.midRef(last, from - last);
            out += replacement;
            last = from + m_plain.size();
            from = text.indexOf(m_plain, last, Qt::CaseInsensitive);
        }
        out += text.midRef(last);
        return out;
    }
    QString out;
    int last = 0;
    auto it = m_regex.globalMatch(text);
    bool any = false;
    while (it.hasNext()) {
        const auto m = it.next();
        // An empty run (a lone "*" at the end) is not an occurrence.
        if (m.capturedLength() == 0)
            continue;
        out += text.midRef(last, m.capturedStart() - last);
        out += replacement;
        last = m.capturedEnd();
        any = true;
    }
    if (!any)
        return text;
    out += text.midRef(last);
    return out;
}

std::vector<std::pair<int, int>> SearchPattern::occurrences(const QString& text) const
{
    std::vector<std::pair<int, int>> out;
    if (m_empty || text.isEmpty())
        return out;
    if (m_literal) {
        if (m_whole) {
            if (text.compare(m_plain, Qt::CaseInsensitive) == 0)
                out.emplace_back(0, int(text.size()));
            return out;
        }
        for (int from = int(text.indexOf(m_plain, 0, Qt::CaseInsensitive)); from >= 0;
             from = int(text.indexOf(m_plain, from + m_plain.size(), Qt::CaseInsensitive)))
            out.emplace_back(from, int(m_plain.size()));
        return out;
    }
    auto it = m_regex.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        if (m.capturedLength() > 0)
            out.emplace_back(int(m.capturedStart()), int(m.capturedLength()));
    }
    return out;
}

} // namespace corvane::automation::native
