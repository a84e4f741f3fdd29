#include "placetext.h"

#include "text/searchpattern.h"

#include <QByteArray>

namespace corvane::automation::native {

bool replaceInRuns(const SearchPattern& pattern, const QString& replacement, std::vector<QString>& runs)
{
    QString whole;
    std::vector<int> owner; // the run each character of `whole` comes from
    for (size_t i = 0; i < runs.size(); ++i) {
        whole += runs[i];
        owner.insert(owner.end(), size_t(runs[i].size()), int(i));
    }
    const auto hits = pattern.occurrences(whole);
    if (hits.empty())
        return false;
    std::vector<QString> out(runs.size());
    int at = 0;
    const auto copyUpTo = [&](int end) {
        for (; at < end; ++at)
            out[size_t(owner[size_t(at)])] += whole.at(at);
    };
    for (const auto& [start, length] : hits) {
        copyUpTo(start);
        out[size_t(owner[size_t(start)])] += replacement;
        at = start + length;
    }
    copyUpTo(int(whole.size()));
    runs = std::move(out);
    return true;
}

namespace {

// Where the code that starts at `at` (a "&" that is not doubled) ends.
int codeEnd(const QString& text, int at)
{
    const int n = int(text.size());
    int i = at + 1;
    if (i >= n)
        return n;
    const QChar c = text.at(i);
    if (c == QLatin1Char('"')) {
        const int close = int(text.indexOf(QLatin1Char('"'), i + 1));
        return close < 0 ? n : close + 1;
    }
    if (c.isDigit()) {
        while (i < n && text.at(i).isDigit())
            ++i;
        return i;
    }
    if (c == QLatin1Char('K') || c == QLatin1Char('k')) {
        // A colour: six hex digits, or a theme colour and its tint ("01+000").
        int j = i + 1;
        while (j < n && j < i + 7 &&
               (text.at(j).isLetterOrNumber() || text.at(j) == QLatin1Char('+') ||
                text.at(j) == QLatin1Char('-')))
            ++j;
        return j;
    }
    return i + 1;
}

} // namespace

bool replaceInHeaderText(const SearchPattern& pattern, const QString& replacement, QString& text)
{
    QString doubled = replacement;
    doubled.replace(QLatin1Char('&'), QLatin1String("&&"));
    QString out;
    QString piece; // the literal text since the last code, "&&" read as "&"
    bool any = false;
    const auto flush = [&]() {
        if (piece.isEmpty())
            return;
        // Each hit is replaced in the piece's text, and that text is written back with its own
        // ampersands doubled: both are text.
        const auto hits = pattern.occurrences(piece);
        int at = 0;
        for (const auto& [start, length] : hits) {
            out += piece.mid(at, start - at).replace(QLatin1Char('&'), QLatin1String("&&"));
            out += doubled;
            at = start + length;
        }
        out += piece.mid(at).replace(QLatin1Char('&'), QLatin1String("&&"));
        any = any || !hits.empty();
        piece.clear();
    };
    const int n = int(text.size());
    for (int i = 0; i < n;) {
        if (text.at(i) != QLatin1Char('&')) {
            piece += text.at(i++);
            continue;
        }
        if (i + 1 < n && text.at(i + 1) == QLatin1Char('&')) {
            piece += QLatin1Char('&');
            i += 2;
            continue;
        }
        flush();
        const int end = codeEnd(text, i);
        out += text.mid(i, end - i);
        i = end;
    }
    flush();
    if (any)
        text = out;
    return any;
}

bool replaceInLinkTarget(const SearchPattern& pattern, const QString& replacement, QString& target)
{
    if (!target.contains(QLatin1Char('%'))) {
        if (pattern.occurrences(target).empty())
            return false;
        target = pattern.replaceAll(target, replacement);
        return true;
    }
    const QString readable = QString::fromUtf8(QByteArray::fromPercentEncoding(target.toUtf8()));
    if (pattern.occurrences(readable).empty())
        return false;
    const QString changed = pattern.replaceAll(readable, replacement);
    // Escaped again as such targets are written: what a path may not hold raw, nothing else, so
    // the letters of other scripts stay as they were.
    QString out;
    for (const QChar c : changed) {
        if (c == QLatin1Char('%') || c == QLatin1Char(' ') || c == QLatin1Char('"') ||
            c == QLatin1Char('<') || c == QLatin1Char('>') || c.unicode() < 0x20)
            out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    target = out;
    return true;
}

} // namespace corvane::automation::native
