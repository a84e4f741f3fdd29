#include "replaceplaces.h"

#include <QRegularExpression>
#include <QStringList>

namespace corvane::automation {

const std::vector<ReplacePlace>& ReplacePlaces::all()
{
    static const std::vector<ReplacePlace> places = {ReplacePlace::Comments, ReplacePlace::Shapes,
                                                     ReplacePlace::Headers, ReplacePlace::Links,
                                                     ReplacePlace::SheetNames};
    return places;
}

QString ReplacePlaces::name(ReplacePlace place)
{
    switch (place) {
    case ReplacePlace::Comments:
        return QStringLiteral("comments");
    case ReplacePlace::Shapes:
        return QStringLiteral("shapes");
    case ReplacePlace::Headers:
        return QStringLiteral("headers");
    case ReplacePlace::Links:
        return QStringLiteral("links");
    case ReplacePlace::SheetNames:
        break;
    }
    return QStringLiteral("sheet-names");
}

QString ReplacePlaces::names() const
{
    QStringList out;
    for (ReplacePlace place : all())
        if (has(place))
            out << name(place);
    return out.join(QLatin1Char(','));
}

bool ReplacePlaces::parse(const QString& text, ReplacePlaces& out, QString* unknown)
{
    ReplacePlaces places;
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString& raw : parts) {
        const QString part = raw.trimmed();
        if (part.isEmpty() && parts.size() == 1)
            break;
        bool known = false;
        for (ReplacePlace place : all()) {
            if (part == name(place)) {
                places.set(place);
                known = true;
            }
        }
        if (!known) {
            if (unknown)
                *unknown = part;
            return false;
        }
    }
    out = places;
    return true;
}

QString replaceWildcardText(const QString& text, const QString& what, const QString& replacement,
                            bool* matched)
{
    if (matched)
        *matched = false;
    if (what.isEmpty() || text.isEmpty())
        return text;
    QString regex;
    for (int i = 0; i < what.size(); ++i) {
        QChar c = what.at(i);
        if (c == QLatin1Char('*')) {
            regex += QLatin1String("[\\s\\S]*");
            continue;
        }
        if (c == QLatin1Char('?')) {
            regex += QLatin1String("[\\s\\S]");
            continue;
        }
        if (c == QLatin1Char('~') && i + 1 < what.size()) {
            const QChar next = what.at(i + 1);
            if (next == QLatin1Char('*') || next == QLatin1Char('?') || next == QLatin1Char('~')) {
                c = next;
                ++i;
            }
        }
        regex += QRegularExpression::escape(QString(c));
    }
    const QRegularExpression re(regex, QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::UseUnicodePropertiesOption);
    QString out;
    int copied = 0;
    bool any = false;
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        // A lone "*" at the end matches nothing there; that is no occurrence.
        if (m.capturedLength() == 0)
            continue;
        out += text.midRef(copied, m.capturedStart() - copied);
        out += replacement;
        copied = m.capturedEnd();
        any = true;
    }
    if (!any)
        return text;
    if (matched)
        *matched = true;
    out += text.midRef(copied);
    return out;
}

} // namespace corvane::automation
