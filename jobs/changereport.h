// The change report of a run: one line per change and one per workbook's outcome, streamed to
// a file as the run goes, as CSV (UTF-8 with a byte-order mark, RFC 4180) or JSON Lines.
#pragma once

#include "automation/changerecord.h"
#include "run/runsink.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

namespace corvane::jobs {

enum class ReportFormat
{
    Csv,
    JsonLines
};

// By the file's extension (".csv", ".jsonl", any letter case); none for any other.
std::optional<ReportFormat> reportFormatFor(const QString& path);

// The status line for a report that could not be written: "修改报告写入失败:" and its path.
QString reportNotWrittenMessage(const QString& path);

// One CSV field as RFC 4180 writes it. A text a spreadsheet application would take for a
// formula or a command gets an apostrophe in front, so that opening the report shows it
// rather than runs it.
QByteArray csvField(const QString& text);
// A JSON string literal, quotes included.
QByteArray jsonString(const QString& text);

class ChangeReport
{
public:
    ChangeReport() = default;
    ChangeReport(const ChangeReport&) = delete;
    ChangeReport& operator=(const ChangeReport&) = delete;
    ~ChangeReport() { close(); }

    // Creates (or empties) the file and writes the header. False with `error` when it cannot.
    bool open(const QString& path, ReportFormat format, QString* error = nullptr);
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }

    // Each record reaches the file before the call returns, so that a run that ends abruptly
    // leaves every record written so far.
    void write(const automation::ChangeRecord& record);
    void write(const automation::WorkbookRecord& record);

    // False with `error` when some record could not be written (a full disk).
    bool close(QString* error = nullptr);

private:
    void writeLine(const QByteArray& line);

    QFile m_file;
    ReportFormat m_format = ReportFormat::Csv;
    QString m_writeError;
};

// A line of a JSON Lines report read back: exactly one of the two is set; neither when the line
// is not a record.
struct ReportLine
{
    std::optional<automation::ChangeRecord> change;
    std::optional<automation::WorkbookRecord> outcome;
};
ReportLine readReportLine(const QByteArray& line);

// Passes a run's reports on to `inner` and writes its records to `report`.
class ReportSink : public automation::RunSink
{
public:
    ReportSink(automation::RunSink& inner, ChangeReport& report) : m_inner(inner), m_report(report) {}

    void status(const QString& text) override { m_inner.status(text); }
    void runEnded() override { m_inner.runEnded(); }
    void progress(int done, int total) override { m_inner.progress(done, total); }
    void workbookFailed(const QString& path, const QString& reason) override
    {
        m_inner.workbookFailed(path, reason);
    }
    void serverFailed(const QString& reason) override { m_inner.serverFailed(reason); }
    void writeList(automation::ResultList list, const QString& text) override
    {
        m_inner.writeList(list, text);
    }
    void change(const automation::ChangeRecord& record) override
    {
        m_report.write(record);
        m_inner.change(record);
    }
    void workbookOutcome(const automation::WorkbookRecord& record) override
    {
        m_report.write(record);
        m_inner.workbookOutcome(record);
    }

private:
    automation::RunSink& m_inner;
    ChangeReport& m_report;
};

} // namespace corvane::jobs
