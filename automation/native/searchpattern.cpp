#include "searchpattern.h"

namespace corvane::automation::native {

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

} // namespace corvane::automation::native
