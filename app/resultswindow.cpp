#include "resultswindow.h"

#include "jobs/changereport.h"
#include "platform/textopener.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace corvane::app {

namespace {

using automation::WorkbookRecord;

constexpr WorkbookRecord::Outcome kOutcomes[] = {
    WorkbookRecord::Outcome::Changed, WorkbookRecord::Outcome::Unchanged, WorkbookRecord::Outcome::Refused,
    WorkbookRecord::Outcome::Failed};

QString outcomeText(WorkbookRecord::Outcome outcome)
{
    switch (outcome) {
    case WorkbookRecord::Outcome::Changed:
        return QStringLiteral("已修改");
    case WorkbookRecord::Outcome::Unchanged:
        return QStringLiteral("无修改");
    case WorkbookRecord::Outcome::Refused:
        return QStringLiteral("被拒绝");
    case WorkbookRecord::Outcome::Failed:
        break;
    }
    return QStringLiteral("失败");
}

QString changeText(automation::ChangeKind kind)
{
    switch (kind) {
    case automation::ChangeKind::Value:
        return QStringLiteral("值");
    case automation::ChangeKind::Formula:
        return QStringLiteral("公式");
    case automation::ChangeKind::RowDeleted:
        return QStringLiteral("删除行");
    case automation::ChangeKind::ColumnDeleted:
        return QStringLiteral("删除列");
    case automation::ChangeKind::RowInserted:
        return QStringLiteral("插入行");
    case automation::ChangeKind::ColumnInserted:
        return QStringLiteral("插入列");
    case automation::ChangeKind::PictureInserted:
        return QStringLiteral("插入图片");
    case automation::ChangeKind::ShapeDeleted:
        return QStringLiteral("删除图形");
    case automation::ChangeKind::SheetDeleted:
        return QStringLiteral("删除Sheet");
    case automation::ChangeKind::Comment:
        return QStringLiteral("批注");
    case automation::ChangeKind::ShapeText:
        return QStringLiteral("文本框");
    case automation::ChangeKind::HeaderFooter:
        return QStringLiteral("页眉页脚");
    case automation::ChangeKind::Hyperlink:
        return QStringLiteral("超链接");
    case automation::ChangeKind::ExternalLink:
        return QStringLiteral("外部链接");
    case automation::ChangeKind::SheetRenamed:
        break;
    }
    return QStringLiteral("重命名Sheet");
}

enum Column
{
    WorkbookColumn,
    OutcomeColumn,
    ChangesColumn,
    ReasonColumn
};

} // namespace

ResultsWindow::ResultsWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ResultsWindow"));
    setWindowTitle(QStringLiteral("运行结果"));
    resize(900, 600);

    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lb_RunSummary"));
    m_summary->setWordWrap(true);

    m_filter = new QComboBox(this);
    m_filter->setObjectName(QStringLiteral("comboBox_Outcome"));
    m_filter->addItems(filterNames());

    m_outcomes = new QStandardItemModel(0, 4, this);
    m_outcomes->setHorizontalHeaderLabels(
        {QStringLiteral("文件"), QStringLiteral("结果"), QStringLiteral("修改数"), QStringLiteral("原因")});
    m_shown = new QSortFilterProxyModel(this);
    m_shown->setSourceModel(m_outcomes);
    m_shown->setFilterKeyColumn(OutcomeColumn);
    m_shown->setSortRole(Qt::UserRole);

    m_workbooks = new QTableView(this);
    m_workbooks->setObjectName(QStringLiteral("tableView_Workbooks"));
    m_workbooks->setModel(m_shown);
    m_workbooks->setSortingEnabled(true);
    m_workbooks->sortByColumn(-1, Qt::AscendingOrder);
    m_workbooks->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_workbooks->setSelectionMode(QAbstractItemView::SingleSelection);
    m_workbooks->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_workbooks->horizontalHeader()->setStretchLastSection(true);
    m_workbooks->setToolTip(QStringLiteral("双击打开文件所在的文件夹"));

    m_changes = new QTableWidget(0, 6, this);
    m_changes->setObjectName(QStringLiteral("tableWidget_Changes"));
    m_changes->setHorizontalHeaderLabels({QStringLiteral("Sheet"), QStringLiteral("单元格"),
                                          QStringLiteral("修改"), QStringLiteral("原内容"),
                                          QStringLiteral("新内容"), QStringLiteral("说明")});
    m_changes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_changes->setSortingEnabled(true);
    m_changes->horizontalHeader()->setStretchLastSection(true);

    m_saveButton = new QPushButton(QStringLiteral("另存为CSV..."), this);
    m_saveButton->setObjectName(QStringLiteral("pBtn_SaveReport"));
    m_runButton = new QPushButton(QStringLiteral("正式运行（保存修改）"), this);
    m_runButton->setObjectName(QStringLiteral("pBtn_RunForReal"));
    m_runButton->hide();

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("显示："), this));
    top->addWidget(m_filter);
    top->addStretch(1);
    top->addWidget(m_saveButton);
    top->addWidget(m_runButton);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_workbooks);
    split->addWidget(m_changes);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addLayout(top);
    layout->addWidget(split, 1);

    connect(m_filter, qOverload<int>(&QComboBox::currentIndexChanged), this, &ResultsWindow::applyFilter);
    connect(m_workbooks->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { showChangesOf(current); });
    connect(m_workbooks, &QTableView::doubleClicked, this, &ResultsWindow::openFolderOf);
    connect(m_saveButton, &QPushButton::clicked, this, &ResultsWindow::saveAsCsv);
    connect(m_runButton, &QPushButton::clicked, this, &ResultsWindow::runForRealRequested);
}

QStringList ResultsWindow::filterNames()
{
    QStringList names{QStringLiteral("全部")};
    for (const WorkbookRecord::Outcome outcome : kOutcomes)
        names << outcomeText(outcome);
    return names;
}

void ResultsWindow::showRun(const QString& reportPath, bool preview, const QString& summary)
{
    m_reportPath = reportPath;
    m_changeLines.clear();
    m_outcomes->removeRows(0, m_outcomes->rowCount());
    m_changes->setRowCount(0);
    m_summary->setText(summary);
    m_runButton->setVisible(preview);

    QFile file(reportPath);
    if (file.open(QIODevice::ReadOnly)) {
        for (qint64 at = file.pos(); !file.atEnd(); at = file.pos()) {
            const jobs::ReportLine line = jobs::readReportLine(file.readLine());
            if (line.change) {
                m_changeLines[line.change->workbook].append(at);
            } else if (line.outcome) {
                const WorkbookRecord& r = *line.outcome;
                auto* path = new QStandardItem(r.workbook);
                path->setData(r.workbook, Qt::UserRole);
                auto* outcome = new QStandardItem(outcomeText(r.outcome));
                outcome->setData(int(r.outcome), Qt::UserRole);
                auto* count = new QStandardItem(QString::number(r.changes));
                count->setData(r.changes, Qt::UserRole);
                auto* reason = new QStandardItem(r.reason);
                reason->setData(r.reason, Qt::UserRole);
                reason->setToolTip(r.reason);
                m_outcomes->appendRow({path, outcome, count, reason});
            }
        }
    }
    m_workbooks->resizeColumnToContents(WorkbookColumn);
    applyFilter(m_filter->currentIndex());
}

void ResultsWindow::applyFilter(int index)
{
    if (index <= 0)
        m_shown->setFilterFixedString(QString());
    else
        m_shown->setFilterRegularExpression(QRegularExpression(
            QLatin1Char('^') + QRegularExpression::escape(filterNames().value(index)) + QLatin1Char('$')));
}

void ResultsWindow::showChangesOf(const QModelIndex& index)
{
    m_changes->setSortingEnabled(false);
    m_changes->setRowCount(0);
    const QString workbook = m_shown->index(index.row(), WorkbookColumn).data(Qt::UserRole).toString();
    QFile file(m_reportPath);
    if (index.isValid() && file.open(QIODevice::ReadOnly)) {
        for (const qint64 at : m_changeLines.value(workbook)) {
            if (!file.seek(at))
                break;
            const jobs::ReportLine line = jobs::readReportLine(file.readLine());
            if (!line.change)
                continue;
            const automation::ChangeRecord& c = *line.change;
            const int row = m_changes->rowCount();
            m_changes->insertRow(row);
            const QString texts[] = {c.sheet, c.cell, changeText(c.kind), c.before, c.after, c.detail};
            for (int column = 0; column < 6; ++column) {
                auto* item = new QTableWidgetItem(texts[column]);
                item->setToolTip(texts[column].left(2000));
                m_changes->setItem(row, column, item);
            }
        }
    }
    m_changes->setSortingEnabled(true);
}

void ResultsWindow::openFolderOf(const QModelIndex& index)
{
    const QString workbook = m_shown->index(index.row(), WorkbookColumn).data(Qt::UserRole).toString();
    if (!workbook.isEmpty())
        platform::openFolder(QDir::toNativeSeparators(QFileInfo(workbook).absolutePath()));
}

bool ResultsWindow::saveCsv(const QString& path, QString* error) const
{
    QFile in(m_reportPath);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    jobs::ChangeReport out;
    if (!out.open(path, jobs::ReportFormat::Csv, error))
        return false;
    while (!in.atEnd()) {
        const jobs::ReportLine line = jobs::readReportLine(in.readLine());
        if (line.change)
            out.write(*line.change);
        else if (line.outcome)
            out.write(*line.outcome);
    }
    return out.close(error);
}

void ResultsWindow::saveAsCsv()
{
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存修改报告"), QDir::homePath(),
                                                QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        path += QLatin1String(".csv");
    QString error;
    if (!saveCsv(path, &error))
        QMessageBox::warning(this, QStringLiteral("注意"),
                             QStringLiteral("修改报告保存失败:") + QDir::toNativeSeparators(path) +
                                 QLatin1Char('\n') + error);
}

} // namespace corvane::app
