#include "recordingsink.h"

namespace corvane::testsupport {

QString listName(automation::ResultList list)
{
    switch (list) {
    case automation::ResultList::OpenFailed:
        return QStringLiteral("OpenFailed");
    case automation::ResultList::Matched:
        return QStringLiteral("Matched");
    case automation::ResultList::Unmatched:
        break;
    }
    return QStringLiteral("Unmatched");
}

QStringList RecordingSink::only(const QString& prefix) const
{
    QStringList out;
    for (const QString& e : events)
        if (e.startsWith(prefix))
            out.append(e.mid(prefix.size()));
    return out;
}

} // namespace corvane::testsupport
