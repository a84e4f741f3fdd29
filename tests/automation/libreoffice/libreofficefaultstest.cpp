// Where LibreOffice on its own would do harm, on workbooks built for each case (fault_books.py):
// files that must be refused stay byte for byte as they were, and what is saved is read back
// by openpyxl or a separate LibreOffice.
#include "sharedoffice.h"
#include "testbooks.h"

#include "automation/native/nativeserver.h"
#include "automation/routingserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
        {"defaultkey.xls", "encrypted:"}, {"password.xls", "encrypted:"}, {"stub.xls", "not a workbook:"},
        {"page.xls", "not a workbook:"},  {"badcrc.xlsx", "damaged:"},    {"nosheets.xlsx", "no sheets:"},
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

} // namespace
