#include "wildcardpattern.h"

namespace corvane::automation::libreoffice {

QString wildcardToRegex(const QString& pattern)
{
    // Characters special to ICU or PCRE; a backslash before any of them is a literal in both.
    static const QString special = QStringLiteral("\\^$.|?*+()[]{}");
    // "." does not cross line breaks in either engine; cells may hold several lines.
    static const QString anyRun = QStringLiteral("[\\s\\S]*");
    static const QString anyOne = QStringLiteral("[\\s\\S]");

    QString regex;
    for (int i = 0; i < pattern.size(); ++i) {
        QChar c = pattern.at(i);
        if (c == QLatin1Char('*')) {
            regex += anyRun;
            continue;
        }
        if (c == QLatin1Char('?')) {
            regex += anyOne;
            continue;
        }
        if (c == QLatin1Char('~') && i + 1 < pattern.size()) {
            const QChar next = pattern.at(i + 1);
            if (next == QLatin1Char('*') || next == QLatin1Char('?') || next == QLatin1Char('~')) {
                c = next;
                ++i;
            }
        }
        if (special.contains(c))
            regex += QLatin1Char('\\');
        regex += c;
    }
    return regex;
}

QRegularExpression wildcardExpression(const QString& pattern, bool whole)
{
    QString regex = wildcardToRegex(pattern);
    if (whole)
        regex = QStringLiteral("\\A(?:") + regex + QStringLiteral(")\\z");
    return QRegularExpression(regex, QRegularExpression::CaseInsensitiveOption |
                                         QRegularExpression::UseUnicodePropertiesOption);
}

QString replaceWildcard(const QString& text, const QString& pattern, const QString& replacement)
{
    if (pattern.isEmpty())
        return text;
    return replaceMatches(text, wildcardExpression(pattern, false), replacement);
}

QString replaceMatches(const QString& text, const QRegularExpression& re, const QString& replacement)
{
    QString result;
    int copied = 0;
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        // An empty match (a pattern of only "*") would otherwise repeat at every position.
        if (m.capturedLength() == 0)
            continue;
        result += text.mid(copied, m.capturedStart() - copied);
        result += replacement;
        copied = m.capturedEnd();
    }
    result += text.mid(copied);
    return result;
}

} // namespace corvane::automation::libreoffice
