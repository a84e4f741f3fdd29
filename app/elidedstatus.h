// Keeps a one-line label within the width its layout gives it: a long text (a workbook's
// path deep in a folder tree) is shortened in the middle, and the whole text is its tool tip.
#pragma once

#include <QObject>
#include <QString>

class QFontMetrics;
class QLabel;

namespace corvane::app {

class ElidedStatus : public QObject
{
    Q_OBJECT

public:
    // Watches `label` for resizes; the label must outlive nothing but this object's use.
    explicit ElidedStatus(QLabel* label);

    void setText(const QString& text);
    const QString& text() const { return m_text; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void elide();

    QLabel* m_label;
    QString m_text;
};

// `text` shortened in the middle, line by line, so that no line is wider than `width` pixels
// in `metrics`.
QString elidedLines(const QString& text, const QFontMetrics& metrics, int width);

} // namespace corvane::app
