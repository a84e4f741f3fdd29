// Every real-world workbook of the shared corpus through the engine: open, visit, save unchanged
// (byte-identical), change one cell (only the expected entries differ), and read the result back
// with independent readers. Files that cannot round-trip are listed, with their reason, in
// corpus_known_failures.tsv.
#include "workbookfixture.h"
#include "workbooktest.h"

#include "automation/native/nativeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace corvane::automation;
using namespace corvane::testing;

namespace {

struct KnownFailure
{
    QString reason;
    QString why;
};

std::map<QString, KnownFailure> knownFailures()
{
    std::map<QString, KnownFailure> out;
    for (const QStringList& cols : readTsv(QStringLiteral(CORVANE_KNOWN_FAILURES))) {
        if (cols.size() >= 2)
            out[cols[0]] = {cols[1], cols.value(2)};
    }
    return out;
}

QStringList corpusFiles()
{
    QStringList out;
    for (const QString& f : QDir(corpusDir()).entryList(QDir::Files, QDir::Name)) {
        if (f != QLatin1String("MANIFEST.tsv") && f != QLatin1String("README.md"))
            out << f;
    }
    return out;
}

// What one pass of a corpus file gave.
struct Outcome
{
    QString error;       // empty when the file round-tripped
    QString changedCopy; // the copy with one changed cell
    QString sheet;
    QString cell;
    int sheetIndex = 0;
};

const QString kProbe = QStringLiteral("Corvane probe 7");

class Corpus : public WorkbookTest
{
protected:
    void SetUp() override
    {
        if (corpusDir().isEmpty())
            GTEST_SKIP() << "corpus folder not found (CORVANE_CORPUS_DIR="
                         << qEnvironmentVariable("CORVANE_CORPUS_DIR").toStdString() << ")";
        WorkbookTest::SetUp();
    }

    QString copyOf(const QString& file, const QString& tag)
    {
        const QString dst = path(tag + QLatin1Char('_') + file);
        EXPECT_TRUE(copyWorkbook(QDir(corpusDir()).filePath(file), dst));
        return dst;
    }

    // Runs the round trip of one file; failures of the engine's own promises are test failures,
    // refusals are returned as the outcome's error.
    Outcome roundTrip(const QString& file)
    {
        Outcome out;
        const QString plain = copyOf(file, QStringLiteral("plain"));
        const QByteArray original = fileBytes(plain);
        {
            auto wb = m_server.open(plain);
            if (!wb) {
                out.error = m_server.lastError();
                EXPECT_FALSE(out.error.isEmpty());
                EXPECT_EQ(fileBytes(plain), original) << "a refused file was changed";
                return out;
            }
            for (int i = 1; i <= wb->sheetCount(); ++i) {
                Sheet* s = wb->sheet(i);
                const auto used = s->usedRange();
                if (!used) {
                    if (!s->lastError().startsWith(QLatin1String("the sheet")) && out.error.isEmpty())
                        out.error = s->lastError();
                    continue;
                }
                s->find(*used, {QStringLiteral("zq*x"), LookIn::Values, LookAt::Part});
                s->find(*used, {QStringLiteral("zq*x"), LookIn::Formulas, LookAt::Whole});
            }
            EXPECT_TRUE(wb->save());
        }
        EXPECT_EQ(fileBytes(plain), original) << "saving without change altered the file";
        if (!out.error.isEmpty())
            return out;

        out.changedCopy = copyOf(file, QStringLiteral("changed"));
        const auto before = readRawEntries(out.changedCopy);
        auto wb = m_server.open(out.changedCopy);
        if (!wb) {
            ADD_FAILURE() << "opened once, not twice";
            return out;
        }
        for (int i = 1; i <= wb->sheetCount() && out.cell.isEmpty(); ++i) {
            Sheet* s = wb->sheet(i);
            const auto used = s->usedRange();
            if (!used)
                continue;
            CellAddress target = used->topLeft();
            if (!s->setValue(target, kProbe)) {
                target = {used->lastRow + 1, used->firstColumn};
                if (!s->setValue(target, kProbe)) {
                    // A protected sheet refuses, as the application does; another may take it.
                    if (s->lastError().contains(QStringLiteral("locked on a protected sheet")))
                        continue;
                    ADD_FAILURE() << "could not write " << cellName(target).toStdString() << ": "
                                  << s->lastError().toStdString();
                    return out;
                }
            }
            EXPECT_EQ(s->value(target).text, kProbe);
            out.sheet = s->name();
            out.cell = cellName(target);
            out.sheetIndex = i;
        }
        if (out.cell.isEmpty())
            return out; // no sheet with cells
        EXPECT_TRUE(wb->save()) << wb->lastError().toStdString();
        wb->close();

        const auto after = readRawEntries(out.changedCopy);
        // Parts the change may rewrite: the sheet, the strings, the workbook, and what the
        // calculation chain's removal touches.
        std::set<std::string> changed;
        for (const auto& [name, e] : before) {
            const auto it = after.find(name);
            if (it == after.end() || it->second.compressed != e.compressed || it->second.crc != e.crc)
                changed.insert(name);
        }
        for (const auto& [name, e] : after)
            EXPECT_TRUE(before.count(name)) << "new entry " << name;
        int sheetParts = 0;
        for (const std::string& name : changed) {
            const bool allowed = name == "[Content_Types].xml" ||
                                 name.find("calcChain") != std::string::npos ||
                                 name.find("sharedStrings") != std::string::npos ||
                                 name.find("workbook.xml") != std::string::npos ||
                                 name.find("worksheets/") != std::string::npos;
            EXPECT_TRUE(allowed) << "entry " << name << " changed";
            if (name.find("worksheets/") != std::string::npos && name.find("_rels") == std::string::npos)
                ++sheetParts;
            if (name.find("calcChain") != std::string::npos) {
                EXPECT_FALSE(after.count(name)) << "calculation chain kept";
            }
        }
        EXPECT_EQ(sheetParts, 1);
        auto again = m_server.open(out.changedCopy);
        EXPECT_TRUE(again) << "the engine cannot reopen what it wrote: "
                           << m_server.lastError().toStdString();
        if (again) {
            EXPECT_EQ(again->sheet(out.sheetIndex)
                          ->value(parseRangeAddress(out.cell)->topLeft())
                          .text.toStdString(),
                      kProbe.toStdString());
        }
        return out;
    }
};

TEST_F(Corpus, EveryPackageRoundTripsOrIsAKnownFailure)
{
    const auto known = knownFailures();
    ASSERT_FALSE(known.empty()) << "known-failure list missing";
    int roundTripped = 0;
    for (const QString& file : corpusFiles()) {
        SCOPED_TRACE(file.toStdString());
        const QByteArray head = fileBytes(QDir(corpusDir()).filePath(file)).left(4);
        const Outcome o = roundTrip(file);
        const auto k = known.find(file);
        if (k != known.end()) {
            EXPECT_FALSE(o.error.isEmpty())
                << "listed as a known failure but round-trips now: take it off the list";
            EXPECT_TRUE(o.error.startsWith(k->second.reason))
                << "reason changed: " << o.error.toStdString()
                << " (listed: " << k->second.reason.toStdString() << ")";
        } else if (head.startsWith("PK")) {
            EXPECT_TRUE(o.error.isEmpty()) << o.error.toStdString();
            ++roundTripped;
        } else {
            // Binary workbooks and other files: refused with a reason; a compound file whose
            // container cannot be read is damaged.
            EXPECT_TRUE(o.error.startsWith(QLatin1String("unsupported")) ||
                        o.error.startsWith(QLatin1String("not a workbook")) ||
                        o.error.startsWith(QLatin1String("encrypted")) ||
                        (head.startsWith("\xD0\xCF\x11\xE0") && o.error.startsWith(QLatin1String("damaged"))))
                << o.error.toStdString();
        }
    }
    EXPECT_GT(roundTripped, 100);
    for (const auto& [file, k] : known)
        EXPECT_TRUE(QFile::exists(QDir(corpusDir()).filePath(file)))
            << "listed file not in the corpus: " << file.toStdString();
}

TEST_F(Corpus, ChangedWorkbooksReadBackInOpenpyxl)
{
    if (m_python.isEmpty())
        GTEST_SKIP() << "no python3 with openpyxl";
    const auto known = knownFailures();
    QString input;
    QStringList files;
    for (const QString& file : corpusFiles()) {
        if (known.count(file) || !fileBytes(QDir(corpusDir()).filePath(file)).startsWith("PK"))
            continue;
        const Outcome o = roundTrip(file);
        if (o.cell.isEmpty())
            continue;
        files << file;
        input += QDir(corpusDir()).filePath(file) + QLatin1Char('\t') + o.changedCopy + QLatin1Char('\t') +
                 o.sheet + QLatin1Char('\t') + o.cell + QLatin1Char('\t') + kProbe + QLatin1Char('\n');
    }
    const QStringList lines =
        QString::fromUtf8(python({QStringLiteral(CORVANE_ORACLE_SCRIPT)}, input.toUtf8(), 600000))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), files.size());
    int checked = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(QLatin1String("skip")))
            continue;
        ++checked;
        EXPECT_EQ(lines[i], QStringLiteral("ok")) << files[i].toStdString();
    }
    EXPECT_GT(checked, 100);
}

TEST_F(Corpus, ChangedWorkbooksConvertInLibreOffice)
{
    if (qEnvironmentVariable("CORVANE_SOFFICE").isEmpty())
        GTEST_SKIP() << "no LibreOffice";
    // A sample: LibreOffice takes seconds per file. Macros, shared formulas, charts, rich text,
    // Chinese text, prefixed parts and a large workbook.
    const QStringList sample = {QStringLiteral("poi__57181.xlsm"),
                                QStringLiteral("poi__shared_formulas.xlsx"),
                                QStringLiteral("sheetjs__rich_text_stress.xlsx"),
                                QStringLiteral("easyexcel__t07.xlsx"),
                                QStringLiteral("sheetjs__wtf_path.xlsx"),
                                QStringLiteral("poi__StructuredRefs-lots-with-lookups.xlsx"),
                                QStringLiteral("libxlsxwriter__chart_bar01.xlsx")};
    const QString outDir = path(QStringLiteral("office"));
    for (const QString& file : sample) {
        SCOPED_TRACE(file.toStdString());
        if (!QFile::exists(QDir(corpusDir()).filePath(file)))
            continue;
        const Outcome o = roundTrip(file);
        ASSERT_FALSE(o.cell.isEmpty()) << o.error.toStdString();
        QString errors;
        ASSERT_TRUE(officeConvert(
            o.changedCopy, outDir,
            QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1"),
            180000, &errors));
        const QString base = QFileInfo(o.changedCopy).completeBaseName();
        bool found = false;
        for (const QString& csv : QDir(outDir).entryList({base + QStringLiteral("*.csv")}, QDir::Files)) {
            if (fileBytes(QDir(outDir).filePath(csv)).contains(kProbe.toUtf8()))
                found = true;
        }
        EXPECT_TRUE(found) << "LibreOffice did not show the changed cell: " << errors.toStdString();
    }
}

} // namespace
