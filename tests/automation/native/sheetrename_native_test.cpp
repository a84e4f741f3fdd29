// Renaming sheets with the native engine, on a generated workbook and a sample of real ones;
// every text that named the sheet is checked by sheet_rename_check.py (openpyxl and its own
// reading of the XML), and LibreOffice computes the same values afterwards.
#include "automation/native/nativeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"
#include "workbookfixture.h"
#include "workbooktest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <iostream>
#include <set>

using namespace corvane::automation;
using corvane::automation::native::NativeServer;
namespace fx = corvane::testing;

namespace {

class SheetRename : public corvane::testing::OpenpyxlTest
{
protected:
    QByteArray check(const QStringList& args)
    {
        return python(QStringList{QStringLiteral(CORVANE_SHEET_RENAME_CHECK)} + args, {}, 300000);
    }

    QString makeBook(const QString& name)
    {
        const QString file = path(name);
        check({QStringLiteral("make"), file});
        return QFile::exists(file) ? file : QString();
    }

    // What the rename left behind, judged by the checker against the original.
    QJsonObject compare(const QString& before, const QString& after, const QString& oldName,
                        const QString& newName)
    {
        return QJsonDocument::fromJson(check({QStringLiteral("compare"), before, after, oldName, newName}))
            .object();
    }

    // Opens, renames sheet `index` and saves; the reason when the engine refused.
    static QString rename(const QString& file, int index, const QString& name)
    {
        return fx::changeAndSave(file, [&](Workbook& book) { return book.renameSheet(index, name); });
    }
};

} // namespace

// Summary draws on Data through every kind of reference; Data takes a name that must be quoted
// and holds apostrophes of its own.
TEST_F(SheetRename, EveryReferenceFollowsAndLibreOfficeComputesTheSame)
{
    const QString original = makeBook(QStringLiteral("original.xlsx"));
    ASSERT_FALSE(original.isEmpty());
    const QString file = path(QStringLiteral("renamed.xlsx"));
    ASSERT_TRUE(QFile::copy(original, file));
    const QString newName = QStringLiteral("Q1 'Data' 2024");

    {
        NativeServer server;
        std::unique_ptr<Workbook> book = server.open(file);
        ASSERT_TRUE(book);
        // An edit not saved yet goes along with the rename.
        ASSERT_TRUE(book->sheet(1)->setFormula({1, 11}, QStringLiteral("=Data!A2")));
        ASSERT_TRUE(book->renameSheet(2, newName)) << book->lastError().toStdString();
        // The workbook in hand reads as renamed before it is saved.
        EXPECT_EQ(book->sheet(2)->name(), newName);
        EXPECT_EQ(book->sheet(1)->formula({1, 1}), "='Q1 ''Data'' 2024'!A1*2");
        EXPECT_EQ(book->sheet(1)->formula({3, 3}), "='Q1 ''Data'' 2024'!A3+1");
        ASSERT_TRUE(book->save()) << book->lastError().toStdString();
        book->close();
    }

    const QJsonObject result = compare(original, file, QStringLiteral("Data"), newName);
    EXPECT_EQ(fx::strings(result["mismatches"]),
              QStringList{"cell 0 K1: new text \"='Q1 ''Data'' 2024'!A2\""});
    EXPECT_EQ(result["problems"].toArray(), QJsonArray());
    // Cells (plain, shared, array, 3-D, beside a text that only looks like a reference), both
    // names, both chart series, the format, the validation, the link, the sheet and its titles.
    EXPECT_EQ(result["followed"].toInt(), 18);
    const QJsonObject texts = result["texts"].toObject();
    EXPECT_EQ(texts["cell 0 E1"].toString(), "=SUM('Summary:Q1 ''Data'' 2024'!A3)");
    EXPECT_EQ(texts["cell 0 G1"].toString(), "=\"Data!A1\"&LEN('Q1 ''Data'' 2024'!A1)");
    EXPECT_EQ(texts["text xl/charts/chart1.xml 1"].toString(), "'Q1 ''Data'' 2024'!$A$1:$A$3");
    EXPECT_EQ(texts["attr xl/worksheets/sheet1.xml 2"].toString(), "'Q1 ''Data'' 2024'!B2");

    // The parts that never named the sheet keep their bytes.
    const auto before = fx::readRawEntries(original);
    const auto after = fx::readRawEntries(file);
    const std::set<std::string> named = {"xl/workbook.xml", "xl/worksheets/sheet1.xml",
                                         "xl/charts/chart1.xml", "docProps/app.xml"};
    for (const auto& [name, entry] : before) {
        const auto now = after.find(name);
        ASSERT_NE(now, after.end()) << name;
        EXPECT_EQ(now->second.compressed == entry.compressed, named.count(name) == 0) << name;
    }

    const QStringList office = officeFirstSheet(file);
    if (!office.isEmpty()) {
        QStringList expected = officeFirstSheet(original);
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(expected[0].toStdString(), "6,165,4,3,7,165,Data!A11,go");
        // The 3-D span is quoted as a whole ('Summary:Q1 ''Data'' 2024'!A3), as the application
        // writes a span with a name that needs quotes; LibreOffice reads no quoted span at all.
        expected[0].replace(QStringLiteral(",7,"), QStringLiteral(",#NAME?,"));
        // And K1, written before the rename.
        for (QString& line : expected)
            line += &line == &expected[0] ? QStringLiteral(",,,5") : QStringLiteral(",,,");
        EXPECT_EQ(office.join(QLatin1Char('\n')).toStdString(),
                  expected.join(QLatin1Char('\n')).toStdString());
    }
}

TEST_F(SheetRename, RefusedNamesLeaveTheFileAsItWas)
{
    const QString file = makeBook(QStringLiteral("refused.xlsx"));
    ASSERT_FALSE(file.isEmpty());
    const QByteArray original = fx::fileBytes(file);
    struct Case
    {
        QString name;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {QString(), "a sheet name cannot be empty"},
        {QString(32, QLatin1Char('x')), "the sheet name \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\" is longer than "
                                        "the 31 characters a sheet name can have"},
        {QStringLiteral("a/b"),
         "the sheet name \"a/b\" holds \"/\"; a sheet name cannot hold any of : \\ / ? * [ ]"},
        {QStringLiteral("[x]"),
         "the sheet name \"[x]\" holds \"[\"; a sheet name cannot hold any of : \\ / ? * [ ]"},
        {QStringLiteral("'quoted"), "a sheet name cannot begin or end with an apostrophe"},
        {QStringLiteral("tab\there"), "a sheet name cannot hold control characters"},
        {QStringLiteral("history"), "the sheet name \"history\" is reserved by the application"},
        {QStringLiteral("SUMMARY"), "the workbook already has a sheet named \"Summary\""},
    };
    NativeServer server;
    std::unique_ptr<Workbook> book = server.open(file);
    ASSERT_TRUE(book);
    for (const Case& c : cases) {
        EXPECT_FALSE(book->renameSheet(2, c.name)) << c.name.toStdString();
        EXPECT_EQ(book->lastError().toStdString(), c.reason);
    }
    EXPECT_FALSE(book->renameSheet(3, QStringLiteral("Fine")));
    EXPECT_EQ(book->sheet(2)->name(), "Data");
    ASSERT_TRUE(book->save());
    book->close();
    EXPECT_EQ(fx::fileBytes(file), original);
    // The longest name that is allowed, and a new letter case of the sheet's own name, are not.
    EXPECT_EQ(rename(file, 2, QString(31, QLatin1Char('y'))), QString());
    EXPECT_EQ(rename(file, 2, QStringLiteral("DATA")), QString());
}

// Real workbooks with cross-sheet formulas, charts, pivot sources, cell and picture links: every text that
// named the sheet names the new one, all others are as they were, and LibreOffice still reads
// the first sheet the same.
TEST_F(SheetRename, CorpusWorkbooks)
{
    const QString corpus = fx::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "no corpus folder (CORVANE_CORPUS_DIR)";
    struct Case
    {
        const char* file;
        int index;
        const char* oldName;
        const char* newName;
        bool office; // compare LibreOffice's values before and after
    };
    const std::vector<Case> cases = {
        {"poi__57181.xlsm", 2, "General", "Général 2", true},
        {"poi__StructuredRefs-lots-with-lookups.xlsx", 2, "List", "Liste_1", false},
        {"libxlsxwriter__quote_name01.xlsx", 3, "Sheet!3", "Plain", false},
        {"sheetjs__internal_link.xlsx", 2, "Sheet2", "表 二", false},
        {"sheetjs__pivot_table_test.xlsm", 1, "Data", "Source data", false},
        {"sheetjs__named_ranges_2011.xlsx", 1, "Named Ranges", "Named", true},
        // The sheet holds the pivot table a pivot chart draws from.
        {"poi__WithChartSheet.xlsx", 6, "Sheet2", "Pivot 2", false},
        // Pictures on every sheet link back to the first one.
        {"poi__ConditionalFormattingSamples.xlsx", 1, "Home", "Start page", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString source = corpus + QLatin1Char('/') + QLatin1String(c.file);
        if (!QFile::exists(source)) {
            ADD_FAILURE() << "missing from the corpus";
            continue;
        }
        const QString file = path(QStringLiteral("renamed-") + QLatin1String(c.file));
        ASSERT_TRUE(fx::copyWorkbook(source, file));
        ASSERT_EQ(rename(file, c.index, QString::fromUtf8(c.newName)), QString());
        // A part changes only when it names the sheet; the workbook's part and its links also
        // lose the calculation chain.
        const auto rawBefore = fx::readRawEntries(source);
        const std::set<std::string> bookkeeping = {"[Content_Types].xml", "xl/workbook.xml",
                                                   "xl/_rels/workbook.xml.rels", "xl/calcChain.xml"};
        for (const auto& [name, entry] : fx::readRawEntries(file)) {
            const auto old = rawBefore.find(name);
            ASSERT_NE(old, rawBefore.end()) << name;
            if (old->second.compressed == entry.compressed || bookkeeping.count(name))
                continue;
            const QString text = QString::fromUtf8(QByteArray::fromStdString(fx::readEntry(source, name)));
            EXPECT_TRUE(text.contains(QString::fromUtf8(c.oldName), Qt::CaseInsensitive))
                << name << " changed without reason";
        }
        const QJsonObject result =
            compare(source, file, QString::fromUtf8(c.oldName), QString::fromUtf8(c.newName));
        EXPECT_EQ(fx::strings(result["mismatches"]), QStringList());
        EXPECT_EQ(result["problems"].toArray(), QJsonArray());
        EXPECT_GT(result["followed"].toInt(), 1);
        std::cout << c.file << ": " << result["followed"].toInt() << " texts follow the rename\n";
        if (c.office) {
            const QStringList office = officeFirstSheet(file);
            if (!office.isEmpty()) {
                EXPECT_EQ(office.join(QLatin1Char('\n')).toStdString(),
                          officeFirstSheet(source).join(QLatin1Char('\n')).toStdString());
            }
        }
    }
}
