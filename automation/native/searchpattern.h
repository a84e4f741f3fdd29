// A find text with the application's wildcards: "*" any run, "?" one character, "~" escapes the
// next "*", "?" or "~". Letter case is ignored.
#pragma once

#include <QRegularExpression>
#include <QString>

namespace corvane::automation::native {

class SearchPattern
{
public:
    SearchPattern(const QString& what, bool wholeCell);

    // An empty find text matches nothing.
    bool isEmpty() const { return m_empty; }
    bool matches(const QString& text) const;
    // Replaces every non-overlapping occurrence, left to right; the inserted text is not
    // searched again. Returns the text unchanged when nothing matched.
    QString replaceAll(const QString& text, const QString& replacement) const;

private:
    bool m_empty = false;
    bool m_whole = false;
    bool m_literal = false; // no wildcard: plain case-insensitive comparison
    QString m_plain;        // the unescaped text when literal
    QRegularExpression m_regex;
};

} // namespace corvane::automation::native
