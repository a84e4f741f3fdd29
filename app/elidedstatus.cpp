#include "app/elidedstatus.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>

namespace corvane::app {

QString elidedLines(const QString& text, const QFontMetrics& metrics, int width)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = metrics.elidedText(line, Qt::ElideMiddle, qMax(0, width));
    return lines.join(QLatin1Char('\n'));
}

ElidedStatus::ElidedStatus(QLabel* label) : QObject(label), m_label(label), m_text(label->text())
{
    // Plain text: a path may hold characters that rich text would read as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->installEventFilter(this);
    elide();
}

void ElidedStatus::setText(const QString& text)
{
    m_text = text;
    elide();
}

bool ElidedStatus::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_label && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange))
        elide();
    return QObject::eventFilter(watched, event);
}

void ElidedStatus::elide()
{
    const QString shown = elidedLines(m_text, m_label->fontMetrics(), m_label->contentsRect().width());
    if (shown != m_label->text())
        m_label->setText(shown);
    m_label->setToolTip(m_text);
}

} // namespace corvane::app
