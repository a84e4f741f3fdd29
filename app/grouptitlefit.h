// A group box whose title is longer than its rows: the box is as wide as its rows need (never
// as wide as its title), and where it is narrower than the title, the title alone is set in a
// smaller font, as far as needed; the box's controls keep theirs.
#pragma once

#include <QFont>
#include <QObject>

class QGroupBox;

namespace corvane::app {

class GroupTitleFit : public QObject
{
    Q_OBJECT

public:
    // Becomes a child of `group` and follows its resizes.
    explicit GroupTitleFit(QGroupBox* group);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The rows' minimum width; the title's is left out.
    void followContents();
    void fit();

    QGroupBox* m_group;
    QFont m_normal;
};

} // namespace corvane::app
