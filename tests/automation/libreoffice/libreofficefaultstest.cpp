// Where LibreOffice on its own would do harm, on workbooks built for each case (fault_books.py):
// files that must be refused stay byte for byte as they were, and what is saved is read back
// by openpyxl or a separate LibreOffice.
#include "sharedoffice.h"
#include "testbooks.h"

#include "automation/libreoffice/libreofficeserver.h"
#include "automation/native/nativeserver.h"
#include "run/routingserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace corvane::automation;
using corvane::testing::sharedOffice;

namespace {

CellAddress at(const char* name)
{
    return parseRangeAddress(QString::fromLatin1(name))->topLeft();
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class LibreOfficeFaults : public ::testing::Test
{
public:
    static void SetUpTestSuite()
    {
        s_books = new QTemporaryDir;
        s_ready =
            !corvane::testing::runPython(QStringLiteral("import runpy, sys\nsys.argv = sys.argv[1:]\n"
                                                        "runpy.run_path(sys.argv[0], run_name='__main__')\n"),
                                         {QStringLiteral(CORVANE_FAULT_BOOKS), s_books->path()})
                 .isNull();
    }
    static void TearDownTestSuite()
    {
        delete s_books;
        s_books = nullptr;
    }

protected:
    void SetUp() override { ASSERT_TRUE(s_ready) << "could not build the test workbooks"; }

    // A fresh copy of a built workbook in a folder of this test's own.
    QString copy(const char* name)
    {
        const QString folder = m_dir.filePath(QString::number(++m_copies));
        QDir().mkpath(folder);
        const QString target = folder + QLatin1Char('/') + QString::fromLatin1(name);
        EXPECT_TRUE(QFile::copy(s_books->filePath(QString::fromLatin1(name)), target));
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return target;
    }

    static QTemporaryDir* s_books;
    static bool s_ready;
    QTemporaryDir m_dir;
    int m_copies = 0;
};

QTemporaryDir* LibreOfficeFaults::s_books = nullptr;
bool LibreOfficeFaults::s_ready = false;

RoutingServer officeChosen()
{
    return RoutingServer(
        ServerChoice::LibreOffice, [] { return std::make_unique<native::NativeServer>(); },
        [] { return std::make_unique<corvane::testing::SharedOfficeHandle>(); });
}

TEST_F(LibreOfficeFaults, EncryptedTextAndDamagedFilesAreRefusedUntouched)
{
    struct Case
    {
        const char* name;
        const char* reason;
    };
    // The default key opens without a password in Calc, yet the workbook is still encrypted.
    const Case cases[] = {
        {"defaultkey.xls", "encrypted:"}, {"password.xls", "encrypted:"},
        {"stub.xls", "not a workbook:"},  {"page.xls", "not a workbook:"},
        {"badcrc.xlsx", "damaged:"},      {"nosheets.xlsx", "damaged: the workbook has no sheets"},
    };
    RoutingServer routed = officeChosen();
    ASSERT_TRUE(routed.isAvailable());
    native::NativeServer engine;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = copy(c.name);
        const QByteArray before = bytesOf(path);
        ASSERT_FALSE(before.isEmpty());
        EXPECT_EQ(routed.open(path), nullptr);
        EXPECT_TRUE(routed.lastError().startsWith(QLatin1String(c.reason)))
            << routed.lastError().toStdString();
        EXPECT_EQ(bytesOf(path), before);
    }
    // Each server on its own says the same of an encrypted binary workbook.
    for (AutomationServer* server : std::initializer_list<AutomationServer*>{&engine, &sharedOffice()}) {
        EXPECT_EQ(server->open(copy("defaultkey.xls")), nullptr);
        EXPECT_TRUE(server->lastError().startsWith(QLatin1String("encrypted:")))
            << server->lastError().toStdString();
        EXPECT_FALSE(server->lastOpenWasForeign());
    }
}

TEST_F(LibreOfficeFaults, DelimitedTextNamedXlsIsSavedBackAsItWas)
{
    const QString path = copy("tabs.xls");
    auto book = sharedOffice().open(path);
    ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
    Sheet* sheet = book->sheet(1);
    EXPECT_EQ(sheet->value(at("B1")).text, QStringLiteral("old value"));
    ASSERT_TRUE(sheet->replace(*sheet->usedRange(), QStringLiteral("old"), QStringLiteral("new")));
    ASSERT_TRUE(book->save()) << book->lastError().toStdString();
    book->close();
    EXPECT_EQ(bytesOf(path), QByteArray("name\tnew value\n1\t2,5\n"));
}

TEST_F(LibreOfficeFaults, CellsKeepTheirContentAndLockedCellsAreNotWritten)
{
    const QString path = copy("cells.xlsx");
    auto book = sharedOffice().open(path);
    ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
    Sheet* cells = book->sheet(1);
    Sheet* locked = book->sheet(2);
    ASSERT_EQ(locked->name(), QStringLiteral("Locked"));
    // Replace works on what the cell holds, never on the text its format shows.
    EXPECT_EQ(cells->value(at("A1")).text, QStringLiteral("Hello there"));
    EXPECT_EQ(cells->value(at("A3")).text, QStringLiteral("0012"));
    ASSERT_TRUE(cells->replace(*cells->usedRange(), QStringLiteral("hello"), QStringLiteral("Bye")));
    EXPECT_EQ(cells->formula(at("A1")), QStringLiteral("Bye there"));
    EXPECT_EQ(cells->formula(at("A2")), QStringLiteral("Bye there"));
    // A locked cell of a protected sheet is refused with the reason; an unlocked one is written.
    EXPECT_FALSE(locked->setFormula(at("A1"), QStringLiteral("=1+1")));
    EXPECT_TRUE(locked->lastError().contains(QStringLiteral("locked"))) << locked->lastError().toStdString();
    EXPECT_FALSE(locked->replace(*locked->usedRange(), QStringLiteral("locked"), QStringLiteral("x")));
    EXPECT_TRUE(locked->replaceRefusal().contains(QStringLiteral("locked on a protected sheet")))
        << locked->replaceRefusal().toStdString();
    EXPECT_TRUE(locked->setValue(at("B1"), QStringLiteral("written")));
    // A refused row edit is a failed edit: that workbook is no longer saved.
    const QByteArray before = bytesOf(path);
    EXPECT_FALSE(locked->deleteRow(5));
    EXPECT_TRUE(locked->lastError().contains(QStringLiteral("protected")));
    EXPECT_FALSE(book->save());
    book->close();
    EXPECT_EQ(bytesOf(path), before);
    // Without it, the written cells are saved and read back by openpyxl.
    book = sharedOffice().open(path);
    ASSERT_TRUE(book);
    ASSERT_TRUE(book->sheet(1)->replace(*book->sheet(1)->usedRange(), QStringLiteral("hello"),
                                        QStringLiteral("Bye")));
    ASSERT_TRUE(book->sheet(2)->setValue(at("B1"), QStringLiteral("written")));
    ASSERT_TRUE(book->save()) << book->lastError().toStdString();
    book->close();
    EXPECT_EQ(corvane::testing::runPython(QStringLiteral(R"PY(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
c, l = wb["Cells"], wb["Locked"]
print(c["A1"].value, c["A1"].number_format, c["A2"].value, c["A3"].value, l["A1"].value, l["B1"].value,
      l.protection.sheet, sep="|")
)PY"),
                                          {path}),
              QStringLiteral("Bye there|\"Item: \"@|Bye there|0012|locked|written|True\n"));
}

TEST_F(LibreOfficeFaults, EditsThroughAPivotTableAreRefusedAndTheWorkbookIsNotSaved)
{
    for (const char* name : {"pivot.xls", "pivot.xlsx"}) {
        SCOPED_TRACE(name);
        const QString path = copy(name);
        const QByteArray before = bytesOf(path);
        auto book = sharedOffice().open(path);
        ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
        Sheet* data = book->sheet(1);
        Sheet* pivot = book->sheet(2);
        ASSERT_EQ(pivot->name(), QStringLiteral("Pivot"));
        EXPECT_FALSE(data->deleteRow(3));
        EXPECT_TRUE(data->lastError().contains(QStringLiteral("source range of a pivot table")))
            << data->lastError().toStdString();
        EXPECT_FALSE(data->insertColumn(1));
        EXPECT_FALSE(pivot->insertRow(1));
        EXPECT_TRUE(pivot->lastError().contains(QStringLiteral("pivot table on the sheet")));
        // Below the source the edit is done, but the workbook had a failed edit: not saved.
        EXPECT_DOUBLE_EQ(data->value(at("B6")).number, 5);
        EXPECT_TRUE(data->deleteRow(9));
        EXPECT_FALSE(book->save());
        EXPECT_TRUE(book->lastError().contains(QStringLiteral("pivot"))) << book->lastError().toStdString();
        book->close();
        EXPECT_EQ(bytesOf(path), before);
    }
}

TEST_F(LibreOfficeFaults, SheetRemovalKeepsTheOtherSheetsHiddenOrVeryHidden)
{
    const QString path = copy("hidden.xlsx");
    auto book = sharedOffice().open(path);
    ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
    ASSERT_TRUE(book->deleteSheet(1)) << book->lastError().toStdString();
    ASSERT_TRUE(book->save()) << book->lastError().toStdString();
    book->close();
    EXPECT_EQ(corvane::testing::runPython(QStringLiteral(R"PY(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
print(*[(ws.title, ws.sheet_state) for ws in wb.worksheets], wb.active.title)
)PY"),
                                          {path}),
              QStringLiteral("('Hidden', 'hidden') ('Very', 'veryHidden') ('Back', 'visible') Back\n"));
}

TEST_F(LibreOfficeFaults, DrawingsKeepTheirRowsAndPicturesLandInTheirCells)
{
    for (const char* name : {"draw.xls", "draw.xlsx"}) {
        SCOPED_TRACE(name);
        const QString path = copy(name);
        auto book = sharedOffice().open(path);
        ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
        Sheet* sheet = book->sheet(1);
        ASSERT_EQ(sheet->shapeTopLeftCell(1), at("B4"));
        const double top = *sheet->cellTop(at("B4"));
        // A new column moves the drawing right, never down: the rows keep their heights.
        ASSERT_TRUE(sheet->insertColumn(1));
        EXPECT_EQ(sheet->shapeTopLeftCell(1), at("C4"));
        EXPECT_NEAR(*sheet->cellTop(at("C4")), top, 0.01);
        // A picture placed at a cell's exact top-left corner, or just inside it, lands in it.
        for (int row = 1; row <= 10; ++row) {
            const CellAddress cell{row, 4 + row % 3};
            const double x = *sheet->cellLeft(cell) + (row % 2) * 0.5;
            const double y = *sheet->cellTop(cell) + (row % 2) * 0.5;
            ASSERT_TRUE(sheet->addPicture(s_books->filePath(QStringLiteral("dot.png")), x, y, 6, 4));
            EXPECT_EQ(sheet->shapeTopLeftCell(sheet->shapeCount()), cell) << cellName(cell).toStdString();
        }
        ASSERT_TRUE(book->save()) << book->lastError().toStdString();
        book->close();
        book = sharedOffice().open(path);
        ASSERT_TRUE(book);
        sheet = book->sheet(1);
        EXPECT_EQ(sheet->shapeCount(), 11);
        EXPECT_EQ(sheet->shapeTopLeftCell(1), at("C4"));
        EXPECT_NEAR(*sheet->cellTop(at("C4")), top, 0.01);
        book->close();
    }
}

TEST_F(LibreOfficeFaults, AnOfficeStartedUnderTheCLocaleReadsChinesePathsAndACrashLeavesTheFileAlone)
{
    const char* const names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    QByteArray saved[3];
    bool had[3];
    for (int i = 0; i < 3; ++i) {
        had[i] = qEnvironmentVariableIsSet(names[i]);
        saved[i] = qgetenv(names[i]);
    }
    qputenv("LC_ALL", "C");
    qputenv("LANG", "C");
    qunsetenv("LC_CTYPE");
    libreoffice::LibreOfficeServer server;
    const bool started = server.isAvailable();
    for (int i = 0; i < 3; ++i)
        had[i] ? qputenv(names[i], saved[i]) : qunsetenv(names[i]);
    ASSERT_TRUE(started) << server.lastError().toStdString();

    const QString folder = m_dir.filePath(QStringLiteral("工作簿"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/数据.xls");
    ASSERT_TRUE(QFile::copy(s_books->filePath(QStringLiteral("draw.xls")), path));
    auto book = server.open(path);
    ASSERT_TRUE(book) << server.lastError().toStdString();
    ASSERT_TRUE(book->sheet(1)->setValue(at("A1"), QStringLiteral("中文")));
    ASSERT_TRUE(book->save()) << book->lastError().toStdString();
    book->close();

    // The office dies before the save: the failure names it, nothing is written, and the next
    // workbook gets a fresh office.
    const QByteArray before = bytesOf(path);
    book = server.open(path);
    ASSERT_TRUE(book) << server.lastError().toStdString();
    ASSERT_TRUE(book->sheet(1)->setValue(at("A2"), QStringLiteral("lost")));
    ASSERT_GT(server.officeProcessId(), 0);
    ::kill(pid_t(server.officeProcessId()), SIGKILL);
    QThread::msleep(300);
    EXPECT_FALSE(book->deleteSheet(1));
    EXPECT_TRUE(book->lastError().contains(QStringLiteral("LibreOffice crashed")))
        << book->lastError().toStdString();
    EXPECT_FALSE(book->save());
    EXPECT_TRUE(book->lastError().contains(QStringLiteral("LibreOffice"))) << book->lastError().toStdString();
    book->close();
    EXPECT_EQ(bytesOf(path), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("数据.xls")});
    book = server.open(path);
    ASSERT_TRUE(book) << server.lastError().toStdString();
    EXPECT_EQ(book->sheet(1)->value(at("A1")).text, QStringLiteral("中文"));
    EXPECT_EQ(book->sheet(1)->value(at("A2")).text, QStringLiteral("row 2"));
    book->close();
    server.quit();
}

} // namespace
