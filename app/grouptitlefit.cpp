#include "app/grouptitlefit.h"

#include <QEvent>
#include <QGroupBox>
#include <QLayout>
#include <QStyle>
#include <QStyleOptionGroupBox>

namespace corvane::app {
namespace {

// Where the style draws the title of `group` in `font`.
QRect titleRect(const QGroupBox& group, const QFont& font)
{
    QStyleOptionGroupBox option;
    option.initFrom(&group);
    option.fontMetrics = QFontMetrics(font);
    option.text = group.title();
    option.textAlignment = group.alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    return group.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &group);
}

} // namespace

GroupTitleFit::GroupTitleFit(QGroupBox* group) : QObject(group), m_group(group), m_normal(group->font())
{
    // A font set on a child is kept when the parent's changes; only the title shrinks.
    for (QWidget* child : group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        QFont own = child->font();
        if (own.pointSizeF() > 0)
            own.setPointSizeF(own.pointSizeF());
        else
            own.setPixelSize(own.pixelSize());
        child->setFont(own);
    }
    group->installEventFilter(this);
    followContents();
    fit();
}

bool GroupTitleFit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_group) {
        if (event->type() == QEvent::Resize)
            fit();
        else if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Polish)
            followContents();
    }
    return QObject::eventFilter(watched, event);
}

void GroupTitleFit::followContents()
{
    if (QLayout* contents = m_group->layout()) {
        const int needed = contents->totalMinimumSize().width();
        if (needed != m_group->minimumWidth())
            m_group->setMinimumWidth(needed);
    }
}

void GroupTitleFit::fit()
{
    const QRect full = titleRect(*m_group, m_normal);
    const int room = m_group->width() - full.left() - 2;
    QFont font = m_normal;
    if (full.width() > room && room > 0 && m_normal.pointSizeF() > 0) {
        // Text widths follow the size only roughly (hinting, whole pixel sizes): measured again
        // and stepped down until the last character is in.
        qreal size = m_normal.pointSizeF() * room / full.width();
        font.setPointSizeF(size);
        while (size > 1.0 && titleRect(*m_group, font).width() > room) {
            size -= 0.25;
            font.setPointSizeF(size);
        }
    }
    if (font != m_group->font())
        m_group->setFont(font);
}

} // namespace corvane::app
