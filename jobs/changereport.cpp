#include "changereport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvane::jobs {

using automation::ChangeKind;
using automation::ChangeRecord;
using automation::WorkbookRecord;

namespace {

constexpr ChangeKind kKinds[] = {
    ChangeKind::Value,           ChangeKind::Formula,      ChangeKind::RowDeleted,
    ChangeKind::ColumnDeleted,   ChangeKind::RowInserted,  ChangeKind::ColumnInserted,
    ChangeKind::PictureInserted, ChangeKind::ShapeDeleted, ChangeKind::SheetDeleted,
    ChangeKind::Comment,         ChangeKind::ShapeText,    ChangeKind::HeaderFooter,
    ChangeKind::Hyperlink,       ChangeKind::ExternalLink, ChangeKind::SheetRenamed};
constexpr WorkbookRecord::Outcome kOutcomes[] = {
    WorkbookRecord::Outcome::Changed, WorkbookRecord::Outcome::Unchanged, WorkbookRecord::Outcome::Refused,
    WorkbookRecord::Outcome::Failed};

const char kCsvHeader[] = "record,workbook,sheet,cell,change,old,new,detail,outcome,reason,changes\r\n";

bool looksLikeNumber(const QString& text)
{
    bool ok = false;
    text.toDouble(&ok);
    return ok;
}

} // namespace

std::optional<ReportFormat> reportFormatFor(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return ReportFormat::Csv;
    if (suffix == QLatin1String("jsonl"))
        return ReportFormat::JsonLines;
    return std::nullopt;
}

QString reportNotWrittenMessage(const QString& path)
{
    return QStringLiteral("修改报告写入失败:") + path;
}

QByteArray csvField(const QString& text)
{
    QString value = text;
    if (!value.isEmpty()) {
        const QChar first = value.at(0);
        const bool formulaLike =
            first == QLatin1Char('=') || first == QLatin1Char('@') || first == QLatin1Char('\t') ||
            first == QLatin1Char('\r') ||
            ((first == QLatin1Char('+') || first == QLatin1Char('-')) && !looksLikeNumber(value));
        if (formulaLike)
            value.prepend(QLatin1Char('\''));
    }
    bool quote = false;
    for (const QChar c : value) {
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c.unicode() < 0x20 || c.unicode() == 0x7f) {
            quote = true;
            break;
        }
    }
    QByteArray out = value.toUtf8();
    if (!quote)
        return out;
    out.replace('"', "\"\"");
    return '"' + out + '"';
}

QByteArray jsonString(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const QChar c : text) {
        const ushort u = c.unicode();
        switch (u) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            // Line and paragraph separators end a line for some readers of JSON Lines.
            if (u < 0x20 || u == 0x7f || u == 0x2028 || u == 0x2029)
                out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0')).toLatin1();
            else
                out += QString(c).toUtf8();
        }
    }
    out += '"';
    return out;
}

bool ChangeReport::open(const QString& path, ReportFormat format, QString* error)
{
    close();
    m_format = format;
    m_writeError.clear();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
    if (format == ReportFormat::Csv)
        writeLine(QByteArray("\xEF\xBB\xBF") + kCsvHeader);
    if (m_writeError.isEmpty())
        return true;
    if (error)
        *error = m_writeError;
    return false;
}

void ChangeReport::writeLine(const QByteArray& line)
{
    if (!m_file.isOpen())
        return;
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        if (m_writeError.isEmpty())
            m_writeError = m_file.errorString();
    }
}

void ChangeReport::write(const ChangeRecord& r)
{
    const QString kind = automation::changeKindName(r.kind);
    if (m_format == ReportFormat::Csv) {
        writeLine("change," + csvField(r.workbook) + ',' + csvField(r.sheet) + ',' + csvField(r.cell) + ',' +
                  csvField(kind) + ',' + csvField(r.before) + ',' + csvField(r.after) + ',' +
                  csvField(r.detail) + ",,,\r\n");
        return;
    }
    writeLine("{\"record\":\"change\",\"workbook\":" + jsonString(r.workbook) +
              ",\"sheet\":" + jsonString(r.sheet) + ",\"cell\":" + jsonString(r.cell) +
              ",\"change\":" + jsonString(kind) + ",\"old\":" + jsonString(r.before) +
              ",\"new\":" + jsonString(r.after) + ",\"detail\":" + jsonString(r.detail) + "}\n");
}

void ChangeReport::write(const WorkbookRecord& r)
{
    const QString outcome = automation::outcomeName(r.outcome);
    if (m_format == ReportFormat::Csv) {
        writeLine("workbook," + csvField(r.workbook) + ",,,,,,," + csvField(outcome) + ',' +
                  csvField(r.reason) + ',' + QByteArray::number(r.changes) + "\r\n");
        return;
    }
    writeLine("{\"record\":\"workbook\",\"workbook\":" + jsonString(r.workbook) +
              ",\"outcome\":" + jsonString(outcome) + ",\"reason\":" + jsonString(r.reason) +
              ",\"changes\":" + QByteArray::number(r.changes) + "}\n");
}

bool ChangeReport::close(QString* error)
{
    if (m_file.isOpen()) {
        if (!m_file.flush() && m_writeError.isEmpty())
            m_writeError = m_file.errorString();
        m_file.close();
    }
    if (!m_writeError.isEmpty() && error)
        *error = m_writeError;
    return m_writeError.isEmpty();
}

ReportLine readReportLine(const QByteArray& line)
{
    ReportLine read;
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    const QString record = o.value(QLatin1String("record")).toString();
    if (record == QLatin1String("change")) {
        ChangeRecord c;
        c.workbook = o.value(QLatin1String("workbook")).toString();
        c.sheet = o.value(QLatin1String("sheet")).toString();
        c.cell = o.value(QLatin1String("cell")).toString();
        const QString kind = o.value(QLatin1String("change")).toString();
        for (const ChangeKind k : kKinds)
            if (automation::changeKindName(k) == kind)
                c.kind = k;
        c.before = o.value(QLatin1String("old")).toString();
        c.after = o.value(QLatin1String("new")).toString();
        c.detail = o.value(QLatin1String("detail")).toString();
        read.change = c;
    } else if (record == QLatin1String("workbook")) {
        WorkbookRecord w;
        w.workbook = o.value(QLatin1String("workbook")).toString();
        const QString outcome = o.value(QLatin1String("outcome")).toString();
        for (const WorkbookRecord::Outcome k : kOutcomes)
            if (automation::outcomeName(k) == outcome)
                w.outcome = k;
        w.reason = o.value(QLatin1String("reason")).toString();
        w.changes = o.value(QLatin1String("changes")).toInt();
        read.outcome = w;
    }
    return read;
}

} // namespace corvane::jobs
