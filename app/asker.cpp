#include "app/asker.h"

#include "jobs/launch.h"

#include <QMessageBox>

namespace corvane::app {

void MessageBoxAsker::inform(const QString& title, const QString& text)
{
    QMessageBox::about(nullptr, title, text);
}

bool MessageBoxAsker::confirm(const QString& title, const QString& text)
{
    return QMessageBox::question(nullptr, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

bool MessageBoxAsker::ask(QWidget* parent, const QString& title, const QString& text)
{
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool confirmedServerSweep(Asker& asker)
{
    return jobs::ServerSweep(
        [&asker](int count) { return asker.confirm(QStringLiteral("注意"), jobs::sweepQuestion(count)); });
}

} // namespace corvane::app
