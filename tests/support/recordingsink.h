// Records what a run reports, in order, as short lines ("status:...", "ended", "progress:1/3",
// "failed:path:reason", "server:reason", "list:Matched") plus the list texts themselves.
#pragma once

#include "run/runsink.h"

#include <QMap>
#include <QStringList>

#include <functional>

namespace corvane::testsupport {

QString listName(automation::ResultList list);

class RecordingSink : public automation::RunSink
{
public:
    void status(const QString& text) override { events.append(QStringLiteral("status:") + text); }
    void runEnded() override
    {
        events.append(QStringLiteral("ended"));
        if (onEnded)
            onEnded();
    }
    void progress(int done, int total) override
    {
        events.append(QStringLiteral("progress:%1/%2").arg(done).arg(total));
    }
    void workbookFailed(const QString& path, const QString& reason) override
    {
        events.append(QStringLiteral("failed:") + path + QLatin1Char(':') + reason);
    }
    void serverFailed(const QString& reason) override { events.append(QStringLiteral("server:") + reason); }
    void writeList(automation::ResultList list, const QString& text) override
    {
        events.append(QStringLiteral("list:") + listName(list));
        lists.insert(listName(list), text);
    }

    // The events that start with `prefix`, prefix removed.
    QStringList only(const QString& prefix) const;

    QStringList events;
    QMap<QString, QString> lists;
    std::function<void()> onEnded;
};

} // namespace corvane::testsupport
