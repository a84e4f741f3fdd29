// Deleting sheets with the native engine, on generated and real workbooks, read back with
// openpyxl (sheet_removal_check.py) and LibreOffice.
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

class SheetDeletion : public corvane::testing::OpenpyxlTest
{
protected:
    QJsonObject inspect(const QString& file)
    {
        return QJsonDocument::fromJson(python({QStringLiteral(CORVANE_SHEET_REMOVAL_CHECK), file})).object();
    }

    // Opens, deletes sheet `index` and saves; the reason when the engine refused.
    static QString deleteSheet(const QString& file, int index)
    {
        return fx::changeAndSave(file, [index](Workbook& book) { return book.deleteSheet(index); });
    }
};

fx::FixtureSheet sheet(const std::string& name, const std::string& data)
{
    return {name, data};
}

// Summary refers into Data; Data and Other hold numbers. Names: a global one into Data, one
// scoped to Data, one scoped to Other; Data is the active tab.
QString makeCrossSheetBook(const QString& file)
{
    const std::string numbers = "<row r=\"1\"><c r=\"A1\"><v>5</v></c><c r=\"B1\"><v>7</v></c></row>";
    if (!fx::writeWorkbook(file,
                           {sheet("Summary", "<row r=\"1\"><c r=\"A1\"><f>Data!A1*2</f><v>10</v></c>"
                                             "<c r=\"B1\"><f>SUM(Data!A1:B1)</f><v>12</v></c>"
                                             "<c r=\"C1\"><f>Other!A1+1</f><v>6</v></c>"
                                             "<c r=\"D1\"><f>'Data'!B1&amp;\"x\"</f><v>7x</v></c></row>"),
                            sheet("Data", numbers), sheet("Other", numbers)}))
        return {};
    std::map<std::string, std::string> entries = fx::readEntries(file);
    std::string& wb = entries["xl/workbook.xml"];
    const size_t sheetsEnd = wb.find("</sheets>") + 9;
    wb.insert(sheetsEnd,
              "<definedNames><definedName name=\"Everything\">Data!$A$1:$B$1</definedName>"
              "<definedName name=\"_xlnm.Print_Area\" localSheetId=\"1\">Data!$A$1:$B$1</definedName>"
              "<definedName name=\"Local\" localSheetId=\"2\">Other!$A$1</definedName>"
              "</definedNames>");
    wb.insert(wb.find("<sheets>"), "<bookViews><workbookView activeTab=\"1\"/></bookViews>");
    const std::string view = "<sheetViews><sheetView workbookViewId=\"0\"/></sheetViews>";
    for (const char* part : {"xl/worksheets/sheet1.xml", "xl/worksheets/sheet3.xml"})
        entries[part].insert(entries[part].find("<sheetData"), view);
    entries["xl/worksheets/sheet2.xml"].insert(
        entries["xl/worksheets/sheet2.xml"].find("<sheetData"),
        "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews>");
    return fx::writeZip(file, entries) ? file : QString();
}

QString sheetNameOf(const char* name)
{
    return QString::fromUtf8(name);
}

} // namespace

TEST_F(SheetDeletion, ReferencesIntoTheDeletedSheetBecomeRefErrors)
{
    const QString file = makeCrossSheetBook(path("cross.xlsx"));
    ASSERT_FALSE(file.isEmpty());
    const auto before = fx::readRawEntries(file);
    ASSERT_EQ(deleteSheet(file, 2), QString());

    const QJsonObject after = inspect(file);
    EXPECT_EQ(fx::strings(after["sheets"]), (QStringList{"Summary", "Other"}));
    const QJsonObject summary = after["formulas"].toObject()["Summary"].toObject();
    EXPECT_EQ(summary["A1"].toString(), "=#REF!*2");
    EXPECT_EQ(summary["B1"].toString(), "=SUM(#REF!)");
    EXPECT_EQ(summary["C1"].toString(), "=Other!A1+1");
    EXPECT_EQ(summary["D1"].toString(), "=#REF!&\"x\"");
    // The global name loses its reference, Data's own goes, Other's moves down one place.
    const QJsonArray definedNames = after["names"].toArray();
    ASSERT_EQ(definedNames.size(), 2);
    EXPECT_EQ(definedNames[0].toArray(), (QJsonArray{"Everything", "#REF!", QJsonValue()}));
    EXPECT_EQ(definedNames[1].toArray(), (QJsonArray{"Local", "Other!$A$1", "1"}));
    // The deleted sheet was active: its right neighbour takes over, selected alone.
    EXPECT_EQ(after["activeTab"].toInt(), 1);
    EXPECT_EQ(fx::strings(after["selected"]), QStringList{"Other"});
    EXPECT_EQ(after["problems"].toArray(), QJsonArray());
    EXPECT_FALSE(after["entries"].toArray().contains("xl/worksheets/sheet2.xml"));

    // LibreOffice reads the lost references as errors, and the surviving one as a number.
    const QStringList office = officeFirstSheet(file);
    if (!office.isEmpty()) {
        ASSERT_EQ(office.size(), 1);
        EXPECT_EQ(office[0], "#REF!,#REF!,6,#REF!");
    }
    (void)before;
}

TEST_F(SheetDeletion, TheLastVisibleSheetIsRefusedAndNothingChanges)
{
    const QString file = path("hidden.xlsx");
    ASSERT_TRUE(fx::writeWorkbook(file, {sheet("Shown", ""), sheet("Gone", "")}));
    std::map<std::string, std::string> entries = fx::readEntries(file);
    std::string& wb = entries["xl/workbook.xml"];
    const size_t at = wb.find("name=\"Gone\"");
    ASSERT_NE(at, std::string::npos);
    wb.insert(at, "state=\"hidden\" ");
    ASSERT_TRUE(fx::writeZip(file, entries));
    const QByteArray original = fx::fileBytes(file);

    NativeServer server;
    auto book = server.open(file);
    ASSERT_TRUE(book);
    EXPECT_FALSE(book->deleteSheet(1));
    EXPECT_EQ(book->lastError(), "a workbook must keep at least one visible sheet");
    EXPECT_FALSE(book->deleteSheet(3));
    EXPECT_EQ(book->sheetCount(), 2);
    ASSERT_TRUE(book->save());
    EXPECT_EQ(fx::fileBytes(file), original);
    // The hidden one may go; the visible one then stays alone.
    ASSERT_TRUE(book->deleteSheet(2));
    ASSERT_TRUE(book->save());
    book->close();
    EXPECT_EQ(fx::strings(inspect(file)["sheets"]), QStringList{"Shown"});
}

TEST_F(SheetDeletion, AProtectedStructureIsRefused)
{
    const QString file = path("locked.xlsx");
    ASSERT_TRUE(fx::writeWorkbook(file, {sheet("A", ""), sheet("B", "")}));
    std::map<std::string, std::string> entries = fx::readEntries(file);
    std::string& wb = entries["xl/workbook.xml"];
    wb.insert(wb.find("<sheets>"), "<workbookProtection lockStructure=\"1\"/>");
    ASSERT_TRUE(fx::writeZip(file, entries));
    EXPECT_EQ(deleteSheet(file, 2), "the workbook's structure is protected");
    EXPECT_EQ(fx::strings(inspect(file)["sheets"]), (QStringList{"A", "B"}));
}

// Real workbooks: the sheet goes with its parts, every other part that neither mentions it nor
// changes its tab selection keeps its bytes, and both readers open the result.
TEST_F(SheetDeletion, CorpusWorkbooksOpenCleanlyAfterwards)
{
    const QString corpus = fx::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "no corpus folder (CORVANE_CORPUS_DIR)";
    struct Case
    {
        const char* file;
        int index;
        const char* sheet;
        std::vector<const char*> goneParts;
    };
    const std::vector<Case> cases = {
        {"poi__57181.xlsm",
         2,
         "General",
         {"xl/worksheets/sheet2.xml", "xl/comments1.xml", "xl/printerSettings/printerSettings1.bin"}},
        {"sheetjs__named_ranges_2011.xlsx", 1, "Named Ranges", {"xl/worksheets/sheet1.xml"}},
        {"poi__dataValidationTableRange.xlsx", 2, "xdropdown", {"xl/worksheets/sheet2.xml"}},
        {"poi__56644.xlsx", 2, "lists", {"xl/worksheets/sheet2.xml", "xl/drawings/drawing1.xml"}},
        {"poi__45544.xlsx", 3, "Top Six Functions", {"xl/worksheets/sheet3.xml"}},
        // A chart sheet: its drawing and chart go with it.
        {"poi__57181.xlsm",
         5,
         "Detailed_graph",
         {"xl/chartsheets/sheet1.xml", "xl/drawings/drawing3.xml",
          "xl/printerSettings/printerSettings4.bin"}},
    };
    int officeChecks = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString source = corpus + QLatin1Char('/') + QLatin1String(c.file);
        if (!QFile::exists(source)) {
            ADD_FAILURE() << "missing from the corpus";
            continue;
        }
        const QString file = path(QString::number(c.index) + QLatin1String(c.file));
        ASSERT_TRUE(fx::copyWorkbook(source, file));
        const QJsonObject before = inspect(file);
        const auto rawBefore = fx::readRawEntries(file);
        ASSERT_EQ(deleteSheet(file, c.index), QString());
        const QJsonObject after = inspect(file);
        const auto rawAfter = fx::readRawEntries(file);

        QStringList expectedSheets = fx::strings(before["sheets"]);
        expectedSheets.removeAt(c.index - 1);
        EXPECT_EQ(fx::strings(after["sheets"]), expectedSheets);
        EXPECT_EQ(after["problems"].toArray(), QJsonArray());
        EXPECT_EQ(after["selected"].toArray().size(), 1);
        // The document properties list the sheet no more, and no fewer of the others.
        const QStringList titlesBefore = fx::strings(before["titles"]);
        const QStringList titlesAfter = fx::strings(after["titles"]);
        if (titlesBefore.contains(sheetNameOf(c.sheet))) {
            EXPECT_FALSE(titlesAfter.contains(sheetNameOf(c.sheet)));
            for (const QString& s : expectedSheets)
                EXPECT_TRUE(titlesAfter.contains(s)) << s.toStdString();
        }
        for (const char* gone : c.goneParts)
            EXPECT_EQ(rawAfter.count(gone), 0u) << gone;

        // Formulas: those into the deleted sheet read #REF!, every other is as it was.
        const QString sheetName = QLatin1String(c.sheet);
        const QJsonObject formulasBefore = before["formulas"].toObject();
        const QJsonObject formulasAfter = after["formulas"].toObject();
        int lost = 0;
        for (const QString& s : formulasAfter.keys()) {
            const QJsonObject was = formulasBefore[s].toObject();
            const QJsonObject now = formulasAfter[s].toObject();
            for (const QString& cell : was.keys()) {
                const QString old = was[cell].toString();
                if (old.contains(sheetName + QLatin1Char('!')) ||
                    old.contains(sheetName + QStringLiteral("'!"))) {
                    ++lost;
                    EXPECT_TRUE(now[cell].toString().contains(QStringLiteral("#REF!"))) << cell.toStdString();
                } else {
                    EXPECT_EQ(now[cell].toString(), old) << s.toStdString() << "!" << cell.toStdString();
                }
            }
        }
        for (const QJsonValue& n : after["names"].toArray()) {
            const QString text = n.toArray()[1].toString();
            EXPECT_FALSE(text.contains(sheetName + QLatin1Char('!')) || text.contains(sheetName + "'!"))
                << text.toStdString();
        }
        std::cout << c.file << ": " << lost << " formulas lost their references\n";

        // Byte identity of everything the deletion had no reason to touch.
        const std::set<std::string> rewritten = {"[Content_Types].xml", "xl/workbook.xml",
                                                 "xl/_rels/workbook.xml.rels", "docProps/app.xml"};
        for (const auto& [name, entry] : rawAfter) {
            if (rewritten.count(name))
                continue;
            const auto old = rawBefore.find(name);
            ASSERT_NE(old, rawBefore.end()) << name;
            if (old->second.compressed == entry.compressed)
                continue;
            const std::string text = fx::readEntry(source, name);
            const bool mentions = text.find(c.sheet) != std::string::npos;
            const bool selection = text.find("tabSelected") != std::string::npos ||
                                   name.find("sheets/sheet") != std::string::npos;
            EXPECT_TRUE(mentions || selection) << name << " changed without reason";
        }
        if (officeChecks < 2) {
            ++officeChecks;
            const QStringList office = officeFirstSheet(file);
            EXPECT_FALSE(office.contains(QStringLiteral("<LibreOffice did not open it>")));
        }
    }
}
