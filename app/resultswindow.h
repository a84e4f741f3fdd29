// The window that opens after each run: how every workbook came out, with its reasons and
// number of changes, and below it the changes of the selected workbook. It reads the run's
// report file, keeping only the outcomes and where each workbook's changes lie in the file.
#pragma once

#include <QHash>
#include <QString>
#include <QVector>
#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class QTableWidget;

namespace corvane::app {

class ResultsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ResultsWindow(QWidget* parent = nullptr);

    // Shows the run whose JSON Lines report is at `reportPath`, replacing what was shown.
    // `preview`: the run saved nothing, so it can be run for real; `summary` heads the window.
    void showRun(const QString& reportPath, bool preview, const QString& summary);

    // The outcome filter's choices, in order: every workbook, then one per outcome.
    static QStringList filterNames();

    // Writes the whole report as CSV; false with `error` when it could not.
    bool saveCsv(const QString& path, QString* error) const;

signals:
    // "正式运行" after a preview: the same launch again, for real.
    void runForRealRequested();

private:
    void applyFilter(int index);
    void showChangesOf(const QModelIndex& index);
    void openFolderOf(const QModelIndex& index);
    void saveAsCsv();

    QLabel* m_summary;
    QComboBox* m_filter;
    QStandardItemModel* m_outcomes;
    QSortFilterProxyModel* m_shown;
    QTableView* m_workbooks;
    QTableWidget* m_changes;
    QPushButton* m_saveButton;
    QPushButton* m_runButton;
    QString m_reportPath;
    // Where in the report each workbook's change lines start.
    QHash<QString, QVector<qint64>> m_changeLines;
};

} // namespace corvane::app
