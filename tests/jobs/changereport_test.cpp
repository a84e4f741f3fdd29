// The change report's two formats, read back by Python's csv and json modules: hostile texts
// come back whole in every field.
#include "jobs/changereport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvane::automation;
using namespace corvane::jobs;

namespace {

// Prints the records of the report at argv[1] as one JSON array of objects (CSV through
// csv.DictReader after the byte-order mark, JSON Lines line by line).
const char kReader[] = R"(
import csv, io, json, sys
path = sys.argv[1]
data = open(path, 'rb').read()
if path.endswith('.csv'):
    if not data.startswith(b'\xef\xbb\xbf'):
        sys.exit('no byte-order mark')
    rows = list(csv.DictReader(io.StringIO(data[3:].decode('utf-8'), newline=''), strict=True))
else:
    rows = [json.loads(line) for line in data.decode('utf-8').split('\n') if line]
print(json.dumps(rows))
)";

QJsonArray readBack(const QString& path)
{
    QProcess python;
    const QString program = qEnvironmentVariable("CORVANE_PYTHON", QStringLiteral("python3"));
    python.start(program, {QStringLiteral("-c"), QString::fromLatin1(kReader), path});
    python.waitForFinished(60000);
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

struct Hostile
{
    const char* name;
    QString text;
};

class ReportEscaping : public testing::TestWithParam<Hostile>
{
};

} // namespace

TEST_P(ReportEscaping, EveryFieldComesBackWhole)
{
    const QString text = GetParam().text;
    QTemporaryDir dir;
    for (const QString& name : {QStringLiteral("r.csv"), QStringLiteral("r.jsonl")}) {
        const QString path = dir.filePath(name);
        const std::optional<ReportFormat> format = reportFormatFor(path);
        ASSERT_TRUE(format);
        {
            ChangeReport report;
            ASSERT_TRUE(report.open(path, *format));
            report.write(
                ChangeRecord{text, text, QStringLiteral("B2"), ChangeKind::Value, text, text + text, text});
            report.write(WorkbookRecord{text, WorkbookRecord::Outcome::Refused, text, 1});
        }
        const QJsonArray rows = readBack(path);
        ASSERT_EQ(rows.size(), 2) << name.toStdString();
        // A spreadsheet application would run a CSV field that reads as a formula; the report
        // shows such texts behind an apostrophe.
        const bool csv = *format == ReportFormat::Csv;
        const bool guarded = csv && (text.startsWith('=') || text.startsWith('@') || text.startsWith('-') ||
                                     text.startsWith('+') || text.startsWith('\t') || text.startsWith('\r'));
        const QString shown = guarded ? QLatin1Char('\'') + text : text;
        const QJsonObject change = rows.at(0).toObject();
        EXPECT_EQ(change.value("record").toString(), "change");
        for (const char* key : {"workbook", "sheet", "old", "detail"})
            EXPECT_EQ(change.value(key).toString(), shown) << name.toStdString() << ' ' << key;
        EXPECT_EQ(change.value("new").toString(), guarded ? QLatin1Char('\'') + text + text : text + text);
        EXPECT_EQ(change.value("cell").toString(), "B2");
        const QJsonObject outcome = rows.at(1).toObject();
        EXPECT_EQ(outcome.value("outcome").toString(), "refused");
        EXPECT_EQ(outcome.value("reason").toString(), shown);
        EXPECT_EQ(outcome.value("workbook").toString(), shown);
    }
}

INSTANTIATE_TEST_SUITE_P(
    HostileTexts, ReportEscaping,
    testing::Values(Hostile{"quotes", QStringLiteral("say \"hi\" \"\"")},
                    Hostile{"commas", QStringLiteral("a,b,,c,")},
                    Hostile{"line_ends", QStringLiteral("one\r\ntwo\nthree\rfour\n")},
                    Hostile{"controls", QString::fromUtf8("\x01\x08\x0b\x0c\x1b\x1f\x7f tab\tend")},
                    Hostile{"separators", QString::fromUtf8("line\u2028para\u2029 \\ back\\slash")},
                    Hostile{"formula", QStringLiteral("=HYPERLINK(\"http://x\",\"y\")")},
                    Hostile{"command", QStringLiteral("@SUM(1)+cmd|' /c calc'!A0")},
                    Hostile{"chinese", QStringLiteral("预览（不保存）,\"表\"")},
                    Hostile{"longest_cell", QString(32767, QLatin1Char('"'))},
                    Hostile{"longer_than_a_cell", QString(40000, QChar(0x6587)) + QStringLiteral("\n,")},
                    Hostile{"empty", QString()}),
    [](const testing::TestParamInfo<Hostile>& p) { return std::string(p.param.name); });

TEST(ReportFormatTest, ChosenByExtensionOnly)
{
    EXPECT_EQ(reportFormatFor("/a/b.CSV"), ReportFormat::Csv);
    EXPECT_EQ(reportFormatFor("b.jsonl"), ReportFormat::JsonLines);
    EXPECT_FALSE(reportFormatFor("b.json"));
    EXPECT_FALSE(reportFormatFor("csv"));
    EXPECT_FALSE(reportFormatFor("b.csv.txt"));
}
