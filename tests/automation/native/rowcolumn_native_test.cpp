// Row and column edits through the native engine on workbooks made by openpyxl, read back with
// openpyxl (and the raw drawing and chart parts); corpus workbooks are opened by openpyxl and a
// sample by headless LibreOffice after an edit.
#include "automation/native/nativeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"
#include "workbookfixture.h"
#include "workbooktest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using namespace corvane::automation;
using corvane::testing::strings;

namespace {

class RowColumnEngine : public corvane::testing::OpenpyxlTest
{
protected:
    QString make()
    {
        const QString file = path(QStringLiteral("book.xlsx"));
        python({QStringLiteral(CORVANE_ROWCOLUMN_BOOK), QStringLiteral("make"), file});
        return file;
    }
    QJsonObject read(const QString& file)
    {
        return QJsonDocument::fromJson(
                   python({QStringLiteral(CORVANE_ROWCOLUMN_BOOK), QStringLiteral("read"), file}))
            .object();
    }

    bool loads(const QString& file)
    {
        QProcess p;
        p.start(m_python, {QStringLiteral("-c"),
                           QStringLiteral("import openpyxl,sys; openpyxl.load_workbook(sys.argv[1])"), file});
        return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    // Opens `file`, applies `edit` to sheet `index` and saves. Returns the edit's result.
    bool edit(const QString& file, int index, const std::function<bool(Sheet&)>& change,
              QString* error = nullptr)
    {
        auto book = open(file);
        if (!book)
            return false;
        Sheet* sheet = book->sheet(index);
        const bool done = change(*sheet);
        if (error)
            *error = sheet->lastError();
        EXPECT_TRUE(book->save()) << book->lastError().toStdString();
        book->close();
        return done;
    }
};

QString text(const QJsonValue& v)
{
    return v.toString();
}

QJsonArray json(const char* text)
{
    return QJsonDocument::fromJson(text).array();
}

} // namespace

TEST_F(RowColumnEngine, DeletingARowMovesAndAdjustsEverythingThatPointsIntoTheSheet)
{
    const QString file = make();
    ASSERT_TRUE(edit(file, 1, [](Sheet& s) { return s.deleteRow(4); }));
    const QJsonObject book = read(file);
    const QJsonObject data = book["sheets"]["Data"].toObject();
    const QJsonObject f = data["formulas"].toObject();
    EXPECT_EQ(text(f["B3"]), "=A3*2");
    EXPECT_EQ(text(f["B4"]), "=A4*2"); // the former B5
    EXPECT_EQ(text(f["C1"]), "=SUM(A1:A9)");
    EXPECT_EQ(text(f["C2"]), "=A4");
    EXPECT_EQ(text(f["C3"]), "=$A$6+A$7");
    EXPECT_EQ(text(f["L4"]), "=K4*3");
    EXPECT_FALSE(f.contains("B10"));
    EXPECT_EQ(data["values"]["A9"].toInt(), 10);
    EXPECT_EQ(strings(data["merges"]), (QStringList{"D2:E3", "D5:E5", "D8:D9"}));
    EXPECT_EQ(data["cf"].toArray(), json(R"([["A1:A9", ["A1>$A$5"]]])"));
    EXPECT_EQ(data["dv"].toArray(), json(R"([["B2:B9", "$A$1:$A$9"]])"));
    EXPECT_EQ(text(data["tables"]["Stock"]), "J1:L5");
    EXPECT_EQ(data["hyperlinks"].toArray(), json(R"([["F5", "Other!A1"]])"));
    // A4's comment went with its row; F8's moved up with its note.
    EXPECT_EQ(data["comments"].toArray(), json(R"([["F7", "stays"]])"));
    EXPECT_EQ(book["notes"].toObject().begin().value().toArray(), json("[[6, 5]]"));
    EXPECT_EQ(strings(data["printArea"]), QStringList{"$A$1:$E$9"});
    EXPECT_EQ(text(data["printRows"]), "1:1");
    EXPECT_EQ(text(data["dimension"]), "A1:L9");

    const QJsonObject other = book["sheets"]["Other"].toObject();
    const QJsonObject g = other["formulas"].toObject();
    EXPECT_EQ(text(g["A1"]), "=Data!A4");
    EXPECT_EQ(text(g["A2"]), "=SUM(Data!A1:A9)");
    EXPECT_EQ(text(g["A3"]), "=Data!#REF!");
    EXPECT_EQ(text(g["A4"]), "='Data'!B5+A1");
    EXPECT_EQ(text(g["A5"]), "=A4");
    EXPECT_EQ(other["hyperlinks"].toArray(), json(R"([["B1", "Data!A7"]])"));

    EXPECT_EQ(text(book["names"]["Total"]), "Data!$A$1:$A$9");
    EXPECT_EQ(text(book["names"]["Fifth"]), "Data!$A$4");

    const QJsonObject anchors = book["anchors"].toObject();
    EXPECT_EQ(anchors["xl/drawings/drawing1.xml"].toArray(),
              json(R"([["twoCellAnchor", ["from", 6, 0, 6, 0], ["to", 9, 0, 11, 0]],
                       ["oneCellAnchor", ["from", 13, 0, 18, 0]]])"));
    EXPECT_EQ(anchors["xl/drawings/drawing2.xml"].toArray(),
              json(R"([["oneCellAnchor", ["from", 3, 0, 1, 0]]])"));
    const QJsonObject charts = book["chartRefs"].toObject();
    EXPECT_EQ(strings(charts["xl/charts/chart1.xml"]), QStringList{"'Data'!$B$2:$B$8"});
    EXPECT_EQ(strings(charts["xl/charts/chart2.xml"]), QStringList{"'Data'!$A$1:$A$3"});
    EXPECT_EQ(strings(charts["xl/charts/chart3.xml"]), QStringList{"'Data'!$A$1:$A$9"});
}

TEST_F(RowColumnEngine, DeletingAColumnLosesItsReferencesAndMovesTheRest)
{
    const QString file = make();
    ASSERT_TRUE(edit(file, 1, [](Sheet& s) { return s.deleteColumn(1); }));
    const QJsonObject book = read(file);
    const QJsonObject data = book["sheets"]["Data"].toObject();
    const QJsonObject f = data["formulas"].toObject();
    EXPECT_EQ(text(f["A2"]), "=#REF!*2");
    EXPECT_EQ(text(f["B1"]), "=SUM(#REF!)");
    EXPECT_EQ(text(f["K2"]), "=J2*3");
    EXPECT_EQ(strings(data["merges"]), (QStringList{"C2:D4", "C6:D6", "C9:C10"}));
    EXPECT_EQ(text(data["tables"]["Stock"]), "I1:K6");
    EXPECT_EQ(data["comments"].toArray(), json(R"([["E8", "stays"]])"));
    EXPECT_EQ(book["notes"].toObject().begin().value().toArray(), json("[[7, 4]]"));
    // The conditional format lived in column A only; F4's moved to E4.
    EXPECT_EQ(data["cf"].toArray(), json(R"([["E4", ["E4>1"]]])"));
    EXPECT_EQ(text(book["sheets"]["Other"]["formulas"]["A1"]), "=Data!#REF!");
    EXPECT_EQ(text(book["sheets"]["Other"]["formulas"]["A4"]), "='Data'!A6+A1");
    EXPECT_EQ(text(book["names"]["Total"]), "Data!#REF!");
    EXPECT_EQ(book["anchors"]["xl/drawings/drawing1.xml"].toArray(),
              json(R"([["twoCellAnchor", ["from", 5, 0, 7, 0], ["to", 8, 0, 12, 0]],
                       ["oneCellAnchor", ["from", 12, 0, 19, 0]]])"));
    EXPECT_EQ(strings(book["chartRefs"]["xl/charts/chart1.xml"]), QStringList{"'Data'!$A$2:$A$9"});
}

TEST_F(RowColumnEngine, InsertingARowGrowsRangesThatSpanIt)
{
    const QString file = make();
    ASSERT_TRUE(edit(file, 1, [](Sheet& s) { return s.insertRow(3); }));
    const QJsonObject book = read(file);
    const QJsonObject data = book["sheets"]["Data"].toObject();
    EXPECT_EQ(text(data["formulas"]["C1"]), "=SUM(A1:A11)");
    EXPECT_EQ(text(data["formulas"]["B4"]), "=A4*2");
    EXPECT_FALSE(data["formulas"].toObject().contains("B3"));
    EXPECT_EQ(strings(data["merges"]), (QStringList{"D10:D11", "D2:E5", "D7:E7"}));
    EXPECT_EQ(text(data["tables"]["Stock"]), "J1:L7");
    EXPECT_EQ(text(book["sheets"]["Other"]["formulas"]["A2"]), "=SUM(Data!A1:A11)");
    EXPECT_EQ(text(book["names"]["Fifth"]), "Data!$A$6");
    // The new row takes the formats of the row above: its height and A2's bold font.
    EXPECT_EQ(data["heights"].toObject(), QJsonObject({{"2", 30}, {"3", 30}}));
    EXPECT_EQ(strings(data["bold"]), (QStringList{"A2", "A3"}));
}

TEST_F(RowColumnEngine, AnInsertedColumnTakesTheFormatsOfTheColumnToItsLeft)
{
    const QString file = make();
    ASSERT_TRUE(edit(file, 1, [](Sheet& s) { return s.insertColumn(2); }));
    const QJsonObject data = read(file)["sheets"].toObject()["Data"].toObject();
    EXPECT_EQ(data["widths"].toObject()["A"].toDouble(), 20);
    EXPECT_EQ(data["widths"].toObject()["B"].toDouble(), 20);
    EXPECT_EQ(strings(data["bold"]), (QStringList{"A2", "B2"}));
    EXPECT_EQ(text(data["formulas"].toObject()["C2"]), "=A2*2");
    EXPECT_EQ(text(data["tables"].toObject()["Stock"]), "K1:M6");
}

TEST_F(RowColumnEngine, RefusedEditsLeaveTheWorkbookAsItWas)
{
    const QString file = make();
    const QByteArray before = corvane::testing::fileBytes(file);
    QString error;
    // The table's header row.
    EXPECT_FALSE(edit(
        file, 1, [](Sheet& s) { return s.deleteRow(1); }, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("header row of table Stock"))) << error.toStdString();
    // A column inside the table.
    EXPECT_FALSE(edit(
        file, 1, [](Sheet& s) { return s.deleteColumn(11); }, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("table Stock"))) << error.toStdString();
    EXPECT_FALSE(edit(
        file, 1, [](Sheet& s) { return s.insertColumn(11); }, &error));
    EXPECT_EQ(corvane::testing::fileBytes(file), before);
}

TEST_F(RowColumnEngine, ProtectionAndArrayFormulasRefuseAsTheApplicationDoes)
{
    const std::string rows =
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
        "<row r=\"2\"><c r=\"A2\"><v>2</v></c>"
        "<c r=\"B2\"><f t=\"array\" ref=\"B2:B4\">A2:A4*2</f><v>4</v></c></row>"
        "<row r=\"3\"><c r=\"B3\"><v>0</v></c></row><row r=\"4\"><c r=\"B4\"><v>0</v></c></row>";
    const QString locked = path(QStringLiteral("locked.xlsx"));
    ASSERT_TRUE(corvane::testing::writeWorkbook(
        locked, {{"S", rows, "<sheetProtection sheet=\"1\" deleteColumns=\"0\"/>"}}));
    QString error;
    EXPECT_FALSE(edit(
        locked, 1, [](Sheet& s) { return s.deleteRow(1); }, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("protected"))) << error.toStdString();
    EXPECT_FALSE(edit(
        locked, 1, [](Sheet& s) { return s.insertColumn(1); }, &error));
    // The protection allows deleting columns.
    EXPECT_TRUE(edit(
        locked, 1, [](Sheet& s) { return s.deleteColumn(3); }, &error))
        << error.toStdString();

    const QString array = path(QStringLiteral("array.xlsx"));
    ASSERT_TRUE(corvane::testing::writeWorkbook(array, {{"S", rows}}));
    EXPECT_FALSE(edit(
        array, 1, [](Sheet& s) { return s.deleteRow(3); }, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("array formula in B2:B4"))) << error.toStdString();
    EXPECT_FALSE(edit(
        array, 1, [](Sheet& s) { return s.insertRow(4); }, &error));
    // Above the array it moves whole.
    ASSERT_TRUE(edit(
        array, 1, [](Sheet& s) { return s.deleteRow(1); }, &error))
        << error.toStdString();
    const QJsonObject f = read(array)["sheets"].toObject()["S"].toObject()["formulas"].toObject();
    EXPECT_EQ(text(f["B1"]), "=A1:A3*2");
}

TEST_F(RowColumnEngine, SharedFormulasAreKeptOrWrittenOutAsTheEditRequires)
{
    // B: a plain fill-down group; C: a running total whose anchored start makes the members
    // drift apart from their master after a deletion; D: a group whose master is deleted.
    std::string rows;
    for (int r = 1; r <= 6; ++r) {
        const std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c>";
        if (r == 1) {
            rows += "<c r=\"B1\"><f t=\"shared\" ref=\"B1:B6\" si=\"0\">A1*2</f><v>2</v></c>";
            rows += "<c r=\"C1\"><f t=\"shared\" ref=\"C1:C6\" si=\"1\">SUM($A$1:A1)</f><v>1</v></c>";
        } else {
            rows += "<c r=\"B" + n + "\"><f t=\"shared\" si=\"0\"/><v>0</v></c>";
            rows += "<c r=\"C" + n + "\"><f t=\"shared\" si=\"1\"/><v>0</v></c>";
        }
        if (r == 3)
            rows += "<c r=\"D3\"><f t=\"shared\" ref=\"D3:D5\" si=\"2\">A3+1</f><v>0</v></c>";
        else if (r == 4 || r == 5)
            rows += "<c r=\"D" + n + "\"><f t=\"shared\" si=\"2\"/><v>0</v></c>";
        rows += "</row>";
    }
    const QString file = path(QStringLiteral("shared.xlsx"));
    ASSERT_TRUE(corvane::testing::writeWorkbook(file, {{"S", rows}}));
    ASSERT_TRUE(edit(file, 1, [](Sheet& s) { return s.deleteRow(3); }));
    const QJsonObject f = read(file)["sheets"].toObject()["S"].toObject()["formulas"].toObject();
    EXPECT_EQ(text(f["B2"]), "=A2*2");
    EXPECT_EQ(text(f["B3"]), "=A3*2");
    EXPECT_EQ(text(f["B5"]), "=A5*2");
    EXPECT_EQ(text(f["C2"]), "=SUM($A$1:A2)");
    EXPECT_EQ(text(f["C3"]), "=SUM($A$1:A3)");
    EXPECT_EQ(text(f["C5"]), "=SUM($A$1:A5)");
    EXPECT_EQ(text(f["D3"]), "=A3+1");
    EXPECT_EQ(text(f["D4"]), "=A4+1");
    EXPECT_FALSE(f.contains("B6"));
}

TEST_F(RowColumnEngine, LibreOfficeComputesTheSameAfterMakingTheSameEditItself)
{
    if (qEnvironmentVariable("CORVANE_SOFFICE").isEmpty())
        GTEST_SKIP() << "no headless LibreOffice (CORVANE_SOFFICE)";
    const QString original = make();
    struct Edit
    {
        const char* kind;
        int index;
        std::function<bool(Sheet&)> apply;
    };
    const std::vector<Edit> edits = {
        {"delete-row", 4, [](Sheet& s) { return s.deleteRow(4); }},
        {"delete-column", 1, [](Sheet& s) { return s.deleteColumn(1); }},
        {"insert-row", 3, [](Sheet& s) { return s.insertRow(3); }},
        {"insert-column", 2, [](Sheet& s) { return s.insertColumn(2); }},
    };
    QStringList arguments{QStringLiteral(CORVANE_ROWCOLUMN_OFFICE), path(QStringLiteral("office")),
                          QStringLiteral("Data")};
    for (const Edit& e : edits) {
        const QString edited = path(QStringLiteral("%1.xlsx").arg(QLatin1String(e.kind)));
        ASSERT_TRUE(QFile::copy(original, edited));
        ASSERT_TRUE(edit(edited, 1, e.apply)) << e.kind;
        arguments.append(
            QStringLiteral("%1:%2:%3:%4").arg(QLatin1String(e.kind)).arg(e.index).arg(original, edited));
    }
    const QList<QByteArray> lines = python(arguments).trimmed().split('\n');
    ASSERT_EQ(lines.size(), int(edits.size()));
    for (const QByteArray& line : lines) {
        const QJsonObject result = QJsonDocument::fromJson(line).object();
        EXPECT_GT(result["cells"].toInt(), 30) << line.toStdString();
        EXPECT_TRUE(result["differences"].toArray().isEmpty())
            << result["edit"].toString().toStdString() << ":\n"
            << strings(result["differences"]).join('\n').toStdString();
    }
}

TEST_F(RowColumnEngine, CorpusEditsComputeWhatLibreOfficeComputesAfterTheSameEdit)
{
    const QString corpus = corvane::testing::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR)";
    if (qEnvironmentVariable("CORVANE_SOFFICE").isEmpty())
        GTEST_SKIP() << "no headless LibreOffice (CORVANE_SOFFICE)";
    // Sheets that many formulas of other sheets name, with merges, conditional formats, tables.
    struct Case
    {
        const char* file;
        const char* sheet;
        const char* kind;
        int index;
        const char* refusal; // what a refused edit's reason says
    };
    const Case cases[] = {
        {"poi__StructuredRefs-lots-with-lookups.xlsx", "List", "delete-row", 5, nullptr},
        {"sheetjs__named_ranges_2011.xlsx", "Named Ranges", "delete-column", 2, nullptr},
        {"poi__dataValidationTableRange.xlsx", "xdropdown", "delete-row", 10, "holds external data"},
    };
    for (const Case& c : cases) {
        const QString original = path(QStringLiteral("o_") + QLatin1String(c.file));
        const QString edited = path(QStringLiteral("e_") + QLatin1String(c.file));
        if (!corvane::testing::copyWorkbook(corpus + QLatin1Char('/') + QLatin1String(c.file), original)) {
            ADD_FAILURE() << c.file << " is missing from the corpus";
            continue;
        }
        ASSERT_TRUE(QFile::copy(original, edited));
        const std::string kind = c.kind;
        const int index = c.index;
        native::NativeServer server;
        auto book = server.open(edited);
        ASSERT_TRUE(book) << c.file;
        Sheet* sheet = nullptr;
        for (int i = 1; i <= book->sheetCount(); ++i) {
            if (book->sheet(i)->name() == QLatin1String(c.sheet))
                sheet = book->sheet(i);
        }
        ASSERT_TRUE(sheet) << c.file;
        const bool done = kind == "delete-row" ? sheet->deleteRow(index) : sheet->deleteColumn(index);
        const QString reason = sheet->lastError();
        ASSERT_TRUE(book->save()) << book->lastError().toStdString();
        book->close();
        if (c.refusal) {
            EXPECT_FALSE(done) << c.file;
            EXPECT_TRUE(reason.contains(QLatin1String(c.refusal))) << reason.toStdString();
            EXPECT_EQ(corvane::testing::fileBytes(edited), corvane::testing::fileBytes(original)) << c.file;
            continue;
        }
        ASSERT_TRUE(done) << c.file << ": " << reason.toStdString();
        const QJsonObject result =
            QJsonDocument::fromJson(python({QStringLiteral(CORVANE_ROWCOLUMN_OFFICE),
                                            path(QStringLiteral("office")), QLatin1String(c.sheet),
                                            QStringLiteral("%1:%2:%3:%4")
                                                .arg(QLatin1String(c.kind))
                                                .arg(index)
                                                .arg(original, edited)}))
                .object();
        EXPECT_GT(result["cells"].toInt(), 0) << c.file;
        EXPECT_TRUE(result["differences"].toArray().isEmpty())
            << c.file << ":\n"
            << strings(result["differences"]).mid(0, 20).join('\n').toStdString();
    }
}

TEST_F(RowColumnEngine, CorpusWorkbooksStayReadableAfterARowAndAColumnGo)
{
    const QString corpus = corvane::testing::corpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "corpus folder missing (CORVANE_CORPUS_DIR)";
    const QString soffice = qEnvironmentVariable("CORVANE_SOFFICE");
    // Workbooks with formulas across sheets, merges, conditional formats, tables and pictures.
    const QStringList names =
        QDir(corpus).entryList({QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(names.isEmpty());
    int edited = 0;
    int refused = 0;
    int checkedByOffice = 0;
    for (int i = 0; i < names.size(); i += 5) {
        const QString file = path(QStringLiteral("c%1.").arg(i) + QFileInfo(names[i]).suffix());
        ASSERT_TRUE(corvane::testing::copyWorkbook(corpus + QLatin1Char('/') + names[i], file));
        // Some corpus files are damaged in ways openpyxl does not forgive; those are only
        // checked by LibreOffice.
        const bool openpyxlReads = loads(file);
        native::NativeServer server;
        auto book = server.open(file);
        if (!book)
            continue;
        Sheet* sheet = book->sheet(1);
        if (!sheet || !sheet->usedRange()) {
            book->close();
            continue;
        }
        const bool rowDone = sheet->deleteRow(2);
        if (!rowDone)
            std::cout << names[i].toStdString() << ": row refused: " << sheet->lastError().toStdString()
                      << "\n";
        const bool columnDone = sheet->deleteColumn(2);
        if (!columnDone)
            std::cout << names[i].toStdString() << ": column refused: " << sheet->lastError().toStdString()
                      << "\n";
        if (!rowDone || !columnDone)
            ++refused;
        if (rowDone || columnDone)
            ++edited;
        ASSERT_TRUE(book->save()) << names[i].toStdString() << ": " << book->lastError().toStdString();
        book->close();
        if (openpyxlReads) {
            EXPECT_TRUE(loads(file)) << names[i].toStdString() << ": openpyxl no longer reads it";
        }
        if (!soffice.isEmpty() && (rowDone || columnDone) && checkedByOffice < 3) {
            ++checkedByOffice;
            const QString out = path(QStringLiteral("office%1").arg(i));
            ASSERT_TRUE(officeConvert(file, out));
            EXPECT_TRUE(QDir(out).entryList(QDir::Files).size() == 1)
                << names[i].toStdString() << ": LibreOffice did not open it";
        }
    }
    EXPECT_GT(edited, 0);
    std::cout << "corpus: " << edited << " edited, " << refused << " refused at least once\n";
}
