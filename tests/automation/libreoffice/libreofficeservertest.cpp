// The LibreOffice backend on small generated workbooks: its own lifetime, the interface's
// search, replace and write rules in .xlsx and in .xls, and saving in the file's own format,
// checked with readers that are not LibreOfficeServer.
#include "sharedoffice.h"
#include "testbooks.h"

#include "automation/libreoffice/libreofficeserver.h"
#include "automation/libreoffice/officeprocess.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/types.h>
#include <unistd.h>

using namespace corvane::automation;
using corvane::automation::libreoffice::LibreOfficeServer;
using corvane::automation::libreoffice::OfficeProcess;
using corvane::testing::sharedOffice;

namespace {

CellAddress at(const char* name)
{
    return parseRangeAddress(QString::fromLatin1(name))->topLeft();
}

RangeAddress area(const char* name)
{
    return *parseRangeAddress(QString::fromLatin1(name));
}

// The soffice processes this test program started (their profile names us as owner).
QList<pid_t> ourOffices()
{
    QList<pid_t> found;
    const QString marker = QStringLiteral("-env:UserInstallation=");
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!isPid || !cmdline.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& arg : cmdline.readAll().split('\0')) {
            const QString text = QString::fromLocal8Bit(arg);
            if (!text.startsWith(marker) || !text.contains(QStringLiteral("corvane-lo-")))
                continue;
            QFile owner(QUrl(text.mid(marker.size())).toLocalFile() + QStringLiteral("/owner"));
            if (owner.open(QIODevice::ReadOnly) && owner.readAll().trimmed().toInt() == ::getpid())
                found << pid;
        }
    }
    return found;
}

QStringList ourProfiles()
{
    QStringList found;
    const QDir temp(QDir::tempPath());
    for (const QString& name : temp.entryList({QStringLiteral("corvane-lo-*")}, QDir::Dirs)) {
        QFile owner(temp.absoluteFilePath(name) + QStringLiteral("/owner"));
        if (owner.open(QIODevice::ReadOnly) && owner.readAll().trimmed().toInt() == ::getpid())
            found << temp.absoluteFilePath(name);
    }
    return found;
}

// Sheet "Data": matches of "x" in B1, D2, A3 and C3 when read by rows.
// Sheet "Mixed": numbers, a formula, a boolean, an error, texts to replace.
const char* const kBookScript = R"PY(
import sys, openpyxl
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Data"
for ref, v in {"A1": "none", "B1": "x", "B2": 7, "D2": "xx", "A3": "x", "C3": "aXb",
               "A5": "plain", "B5": "a*b", "C5": "a?b", "D5": "a~b", "E5": "aXXb"}.items():
    ws[ref] = v
m = wb.create_sheet("Mixed")
m["A1"] = 0.5
m["B1"] = "=A1*4"
m["C1"] = True
m["D1"] = "=NA()"
m["A2"] = "Apple pie, apple tart"
m["B2"] = 12.5
m["C2"] = "=SUM(A1:A1)"
m["D2"] = "order 17 done"
m["E2"] = "=ROUND(A1,2)"
m["F2"] = "cost*2"
wb.save(sys.argv[1])
)PY";

class LibreOfficeServerBooks : public ::testing::TestWithParam<const char*>
{
public:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        const QString xlsx = s_dir->filePath(QStringLiteral("book.xlsx"));
        s_ready = !corvane::testing::runPython(QString::fromLatin1(kBookScript), {xlsx}).isNull() &&
                  corvane::testing::convertWithSoffice({xlsx}, QStringLiteral("xls"), s_dir->path()) &&
                  corvane::testing::isCompoundFile(s_dir->filePath(QStringLiteral("book.xls")));
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

protected:
    void SetUp() override
    {
        ASSERT_TRUE(s_ready) << "could not generate the test workbooks";
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("book.") + QString::fromLatin1(GetParam()));
        ASSERT_TRUE(
            QFile::copy(s_dir->filePath(QStringLiteral("book.") + QString::fromLatin1(GetParam())), m_path));
        m_book = sharedOffice().open(m_path);
        ASSERT_TRUE(m_book) << sharedOffice().lastError().toStdString();
        ASSERT_EQ(m_book->sheetCount(), 2);
        m_data = m_book->sheet(1);
        m_mixed = m_book->sheet(2);
    }

    static QTemporaryDir* s_dir;
    static bool s_ready;
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<Workbook> m_book;
    Sheet* m_data = nullptr;
    Sheet* m_mixed = nullptr;
};

QTemporaryDir* LibreOfficeServerBooks::s_dir = nullptr;
bool LibreOfficeServerBooks::s_ready = false;

TEST_P(LibreOfficeServerBooks, FindWalksByRowsWrapsAndLooksAtTheStartLast)
{
    EXPECT_EQ(m_data->name(), QStringLiteral("Data"));
    EXPECT_EQ(m_data->usedRange(), area("A1:E5"));
    const RangeAddress all = area("A1:D3");
    const FindQuery q{QStringLiteral("x"), LookIn::Values, LookAt::Part};
    EXPECT_EQ(m_data->find(all, q), at("B1"));
    EXPECT_EQ(m_data->find(all, q, at("B1")), at("D2"));
    EXPECT_EQ(m_data->find(all, q, at("D2")), at("A3"));
    EXPECT_EQ(m_data->find(all, q, at("A3")), at("C3"));
    EXPECT_EQ(m_data->find(all, q, at("C3")), at("B1"));
    EXPECT_EQ(m_data->find(all, q, at("C1")), at("D2"));
    EXPECT_EQ(m_data->find(area("A2:D3"), q), at("D2"));
    EXPECT_EQ(m_data->find(area("C1:D2"), q, at("D2")), at("D2"));
    EXPECT_EQ(m_data->find(area("A3:A3"), q, at("A3")), at("A3"));
    EXPECT_FALSE(m_data->find(all, {QString(), LookIn::Values, LookAt::Part}));
    EXPECT_FALSE(m_data->find(all, {QStringLiteral("absent"), LookIn::Values, LookAt::Part}));
    // A start cell outside the range is refused, with a reason.
    EXPECT_FALSE(m_data->find(area("A1:B2"), q, at("D4")));
    EXPECT_FALSE(m_data->lastError().isEmpty());
}

TEST_P(LibreOfficeServerBooks, FindWholeOrPartIgnoringCaseWithWildcards)
{
    const RangeAddress all = area("A1:E5");
    const auto whole = [](const char* w) {
        return FindQuery{QString::fromLatin1(w), LookIn::Values, LookAt::Whole};
    };
    EXPECT_EQ(m_data->find(all, whole("X")), at("B1"));
    EXPECT_EQ(m_data->find(all, whole("XX")), at("D2"));
    EXPECT_FALSE(m_data->find(area("A1:D3"), whole("ax")));
    EXPECT_EQ(m_data->find(all, {QStringLiteral("ax"), LookIn::Values, LookAt::Part}), at("C3"));
    EXPECT_EQ(m_data->find(all, whole("7")), at("B2"));
    const RangeAddress row5 = area("A5:E5");
    EXPECT_EQ(m_data->find(row5, whole("a*b")), at("B5"));
    EXPECT_EQ(m_data->find(row5, whole("a*b"), at("D5")), at("E5"));
    EXPECT_EQ(m_data->find(row5, whole("a??b")), at("E5"));
    EXPECT_EQ(m_data->find(row5, whole("a~*b")), at("B5"));
    EXPECT_EQ(m_data->find(row5, whole("a~*b"), at("B5")), at("B5"));
    EXPECT_EQ(m_data->find(row5, whole("a~?b")), at("C5"));
    EXPECT_EQ(m_data->find(row5, whole("a~~b")), at("D5"));
    EXPECT_EQ(m_data->find(row5, {QStringLiteral("L?I"), LookIn::Values, LookAt::Part}), at("A5"));
}

TEST_P(LibreOfficeServerBooks, FindInValuesOrFormulasAndReadTypedValues)
{
    Sheet* s = m_mixed;
    const RangeAddress row1 = area("A1:D1");
    EXPECT_EQ(s->find(row1, {QStringLiteral("2"), LookIn::Values, LookAt::Whole}), at("B1"));
    EXPECT_FALSE(s->find(row1, {QStringLiteral("2"), LookIn::Formulas, LookAt::Whole}));
    EXPECT_EQ(s->find(row1, {QStringLiteral("=A1*4"), LookIn::Formulas, LookAt::Whole}), at("B1"));
    EXPECT_EQ(s->find(row1, {QStringLiteral("a1"), LookIn::Formulas, LookAt::Part}), at("B1"));
    EXPECT_EQ(s->find(row1, {QStringLiteral("0.5"), LookIn::Formulas, LookAt::Whole}), at("A1"));
    // Known difference: a boolean read back from an .xls LibreOffice wrote shows as 1 in Calc,
    // so searching its value for TRUE finds nothing there.
    if (QLatin1String(GetParam()) == QLatin1String("xlsx")) {
        EXPECT_EQ(s->find(row1, {QStringLiteral("true"), LookIn::Values, LookAt::Whole}), at("C1"));
    }
    EXPECT_EQ(s->find(row1, {QStringLiteral("#N/A"), LookIn::Values, LookAt::Whole}), at("D1"));

    EXPECT_EQ(s->value(at("A1")).kind, CellValue::Kind::Number);
    EXPECT_DOUBLE_EQ(s->value(at("B1")).number, 2);
    EXPECT_EQ(s->formula(at("B1")), QStringLiteral("=A1*4"));
    EXPECT_EQ(s->value(at("C1")).kind, CellValue::Kind::Boolean);
    EXPECT_EQ(s->formula(at("C1")), QStringLiteral("TRUE"));
    EXPECT_EQ(s->value(at("D1")).kind, CellValue::Kind::Error);
    EXPECT_EQ(s->value(at("D1")).text, QStringLiteral("#N/A"));
    EXPECT_EQ(s->value(at("Z99")).kind, CellValue::Kind::Empty);
    EXPECT_EQ(s->formula(at("Z99")), QString());
}

TEST_P(LibreOfficeServerBooks, ReplaceRewritesConstantsAndFormulasButNeverBreaksOne)
{
    Sheet* s = m_mixed;
    const RangeAddress row2 = area("A2:F2");
    EXPECT_TRUE(s->replace(row2, QStringLiteral("APPLE"), QStringLiteral("Pear")));
    EXPECT_EQ(s->value(at("A2")).text, QStringLiteral("Pear pie, Pear tart"));
    // The number's text is edited and entered again as a number.
    EXPECT_TRUE(s->replace(row2, QStringLiteral("2.5"), QStringLiteral("3")));
    EXPECT_EQ(s->value(at("B2")).kind, CellValue::Kind::Number);
    EXPECT_DOUBLE_EQ(s->value(at("B2")).number, 13);
    EXPECT_TRUE(s->replace(row2, QStringLiteral("sum"), QStringLiteral("MAX")));
    EXPECT_EQ(s->formula(at("C2")), QStringLiteral("=MAX(A1:A1)"));
    EXPECT_TRUE(s->replace(row2, QStringLiteral("1?"), QStringLiteral("#")));
    EXPECT_EQ(s->value(at("D2")).text, QStringLiteral("order # done"));
    // Dropping a parenthesis would break the formula: it keeps its text.
    EXPECT_FALSE(s->replace(area("E2"), QStringLiteral("("), QString()));
    EXPECT_EQ(s->formula(at("E2")), QStringLiteral("=ROUND(A1,2)"));
    EXPECT_TRUE(s->replace(row2, QStringLiteral("~*"), QStringLiteral(" times ")));
    EXPECT_EQ(s->value(at("F2")).text, QStringLiteral("cost times 2"));
    // A replacement text that looks special to a regular expression stays literal.
    EXPECT_TRUE(s->replace(row2, QStringLiteral("times"), QStringLiteral("$1 & \\1")));
    EXPECT_EQ(s->value(at("F2")).text, QStringLiteral("cost $1 & \\1 2"));
    EXPECT_FALSE(s->replace(row2, QStringLiteral("nowhere"), QStringLiteral("x")));
    EXPECT_FALSE(s->replace(row2, QString(), QStringLiteral("x")));
}

TEST_P(LibreOfficeServerBooks, WritingBehavesLikeTyping)
{
    Sheet* s = m_mixed;
    ASSERT_TRUE(s->setValue(at("H1"), QStringLiteral("12")));
    EXPECT_EQ(s->value(at("H1")).kind, CellValue::Kind::Number);
    ASSERT_TRUE(s->setValue(at("H2"), QStringLiteral("50%")));
    EXPECT_DOUBLE_EQ(s->value(at("H2")).number, 0.5);
    ASSERT_TRUE(s->setValue(at("H3"), QStringLiteral("true")));
    EXPECT_EQ(s->value(at("H3")).kind, CellValue::Kind::Boolean);
    ASSERT_TRUE(s->setValue(at("H4"), QStringLiteral("'12")));
    EXPECT_EQ(s->value(at("H4")).kind, CellValue::Kind::Text);
    EXPECT_EQ(s->value(at("H4")).text, QStringLiteral("12"));
    ASSERT_TRUE(s->setValue(at("H5"), QStringLiteral("=A1*2")));
    EXPECT_EQ(s->formula(at("H5")), QStringLiteral("=A1*2"));
    EXPECT_DOUBLE_EQ(s->value(at("H5")).number, 1);
    ASSERT_TRUE(s->setFormula(at("H6"), QStringLiteral("1/2")));
    EXPECT_EQ(s->value(at("H6")).kind, CellValue::Kind::Text);
    ASSERT_TRUE(s->setValue(at("H7"), QStringLiteral("=IF(A1>0,\"pos\",\"neg\")")));
    EXPECT_EQ(s->value(at("H7")).text, QStringLiteral("pos"));
    // A boolean cell given a number shows the number, not TRUE.
    ASSERT_TRUE(s->setValue(at("C1"), QStringLiteral("5")));
    EXPECT_EQ(s->value(at("C1")).kind, CellValue::Kind::Number);
    ASSERT_TRUE(s->setValue(at("A2"), QString()));
    EXPECT_EQ(s->value(at("A2")).kind, CellValue::Kind::Empty);
    EXPECT_FALSE(s->setFormula(at("H8"), QStringLiteral("=SUM(")));
    EXPECT_FALSE(s->lastError().isEmpty());
    EXPECT_EQ(s->value(at("H8")).kind, CellValue::Kind::Empty);
    EXPECT_FALSE(s->setFormula(at("B1"), QStringLiteral("=1+")));
    EXPECT_EQ(s->formula(at("B1")), QStringLiteral("=A1*4"));
    // Beyond what LibreOffice's grid holds: refused with a reason, not clipped elsewhere.
    const auto far = s->cell(1, kMaxColumns);
    ASSERT_TRUE(far);
    if (!s->setValue(*far, QStringLiteral("far"))) {
        EXPECT_FALSE(s->lastError().isEmpty());
    }
}

TEST_P(LibreOfficeServerBooks, SavesInItsOwnFormatKeepingPermissions)
{
    ASSERT_TRUE(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QByteArray before = [this] {
        QFile f(m_path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    // Nothing changed yet: the file stays exactly as it was.
    ASSERT_TRUE(m_book->save()) << m_book->lastError().toStdString();
    {
        QFile f(m_path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before);
    }
    ASSERT_TRUE(m_data->replace(area("A1:E5"), QStringLiteral("none"), QStringLiteral("some")));
    ASSERT_TRUE(m_mixed->setValue(at("C4"), QStringLiteral("=B2*2")));
    ASSERT_TRUE(m_mixed->setValue(at("C5"), QStringLiteral("new text")));
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(m_book->save()) << m_book->lastError().toStdString();
    std::printf("save of a small .%s took %lld ms\n", GetParam(), static_cast<long long>(timer.elapsed()));
    m_book->close();

    const QFile::Permissions ownerGroupOther(0x7077);
    EXPECT_EQ(QFile::permissions(m_path) & ownerGroupOther,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QFileInfo(m_path).fileName()});

    const QString kind = QString::fromLatin1(GetParam());
    if (kind == QLatin1String("xls")) {
        EXPECT_TRUE(corvane::testing::isCompoundFile(m_path));
        // An independent reading: a separate soffice turns the saved sheet into CSV.
        QTemporaryDir out;
        ASSERT_TRUE(corvane::testing::convertWithSoffice(
            {m_path},
            QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1"),
            out.path()));
        QFile data(out.filePath(QStringLiteral("book-Data.csv")));
        QFile mixed(out.filePath(QStringLiteral("book-Mixed.csv")));
        ASSERT_TRUE(data.open(QIODevice::ReadOnly) && mixed.open(QIODevice::ReadOnly))
            << QDir(out.path()).entryList().join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(data.readAll().startsWith("some,x"));
        const QList<QByteArray> rows = mixed.readAll().split('\n');
        ASSERT_GE(rows.size(), 5);
        EXPECT_TRUE(rows[3].startsWith(",,25")) << rows[3].constData();
        EXPECT_TRUE(rows[4].startsWith(",,new text")) << rows[4].constData();
    } else {
        const QString read = corvane::testing::runPython(QStringLiteral(R"PY(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
print(wb.sheetnames)
print(wb["Data"]["A1"].value, wb["Mixed"]["C4"].value, wb["Mixed"]["C5"].value, wb["Mixed"]["B1"].value)
)PY"),
                                                         {m_path});
        EXPECT_EQ(read, QStringLiteral("['Data', 'Mixed']\nsome =B2*2 new text =A1*4\n"));
    }
}

TEST_P(LibreOfficeServerBooks, FailedSaveLeavesTheFileAlone)
{
    ASSERT_TRUE(m_mixed->setValue(at("A1"), QStringLiteral("changed")));
    // The folder goes away under the open workbook: nothing can be written.
    const QString folder = m_dir.path() + QStringLiteral("/gone");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString moved = folder + QStringLiteral("/book.") + QString::fromLatin1(GetParam());
    ASSERT_TRUE(QFile::copy(m_path, moved));
    auto book = sharedOffice().open(moved);
    ASSERT_TRUE(book);
    ASSERT_TRUE(book->sheet(1)->setValue(at("A1"), QStringLiteral("changed")));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_FALSE(book->save());
    EXPECT_FALSE(book->lastError().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder));
}

INSTANTIATE_TEST_SUITE_P(Formats, LibreOfficeServerBooks, ::testing::Values("xlsx", "xls"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return std::string(p.param); });

// Rows, columns, sheets and drawing objects: Calc moves the cells and adjusts references.
class LibreOfficeServerEdits : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("edits.xlsx"));
        ASSERT_FALSE(corvane::testing::runPython(QStringLiteral(R"PY(
import sys, struct, zlib, openpyxl
wb = openpyxl.Workbook()
d = wb.active
d.title = "Data"
for r in range(1, 6):
    d.cell(r, 1, r * 10)
    d.cell(r, 2, "row %d" % r)
d["E1"] = "=SUM(A1:A5)"
ref = wb.create_sheet("Ref")
ref["A1"] = "=Data!A3"
ref["A2"] = "=SUM('My data'!A1:B2,\"x.A1\")"
wb.create_sheet("My data")
wb.save(sys.argv[1])
# A 4 x 3 pixel PNG.
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
raw = b"".join(b"\0" + b"\xff\x00\x00" * 4 for _ in range(3))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 4, 3, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
)PY"),
                                                 {m_path, m_dir.filePath(QStringLiteral("red.png"))})
                         .isNull());
        m_book = sharedOffice().open(m_path);
        ASSERT_TRUE(m_book) << sharedOffice().lastError().toStdString();
    }

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<Workbook> m_book;
};

TEST_F(LibreOfficeServerEdits, RowsAndColumnsMoveCellsAndReferences)
{
    Sheet* data = m_book->sheet(1);
    ASSERT_TRUE(data->deleteRow(2));
    EXPECT_DOUBLE_EQ(data->value(at("A2")).number, 30);
    EXPECT_EQ(data->formula(at("E1")), QStringLiteral("=SUM(A1:A4)"));
    EXPECT_EQ(m_book->sheet(2)->formula(at("A1")), QStringLiteral("=Data!A2"));
    EXPECT_EQ(m_book->sheet(2)->formula(at("A2")), QStringLiteral("=SUM('My data'!A1:B2,\"x.A1\")"));
    // References to other sheets are searched and replaced in Excel's form.
    Sheet* ref = m_book->sheet(2);
    const RangeAddress refCells = area("A1:A2");
    EXPECT_EQ(ref->find(refCells, {QStringLiteral("data!a?"), LookIn::Formulas, LookAt::Part}), at("A1"));
    EXPECT_EQ(ref->find(refCells, {QStringLiteral("'my data'!"), LookIn::Formulas, LookAt::Part}), at("A2"));
    EXPECT_TRUE(ref->replace(refCells, QStringLiteral("Data!A2"), QStringLiteral("Data!A4")));
    EXPECT_EQ(ref->formula(at("A1")), QStringLiteral("=Data!A4"));
    ASSERT_TRUE(data->insertColumn(1));
    EXPECT_DOUBLE_EQ(data->value(at("B1")).number, 10);
    EXPECT_EQ(data->formula(at("F1")), QStringLiteral("=SUM(B1:B4)"));
    ASSERT_TRUE(data->insertRow(1));
    EXPECT_DOUBLE_EQ(data->value(at("B2")).number, 10);
    ASSERT_TRUE(data->deleteColumn(2));
    // Excel would show =SUM(#REF!); Calc keeps the rows of the lost column.
    EXPECT_TRUE(data->formula(at("E2")).startsWith(QStringLiteral("=SUM(#REF!")));
    EXPECT_FALSE(data->deleteRow(0));
    EXPECT_FALSE(data->deleteRow(kMaxRows + 1));
    EXPECT_FALSE(data->lastError().isEmpty());
}

TEST_F(LibreOfficeServerEdits, SheetDeletionKeepsOneVisibleSheet)
{
    ASSERT_TRUE(m_book->deleteSheet(1)) << m_book->lastError().toStdString();
    ASSERT_EQ(m_book->sheetCount(), 2);
    EXPECT_EQ(m_book->sheet(1)->name(), QStringLiteral("Ref"));
    EXPECT_TRUE(m_book->sheet(1)->formula(at("A1")).contains(QStringLiteral("#REF!")));
    ASSERT_TRUE(m_book->deleteSheet(2));
    EXPECT_FALSE(m_book->deleteSheet(1));
    EXPECT_FALSE(m_book->lastError().isEmpty());
    EXPECT_FALSE(m_book->deleteSheet(2));
    ASSERT_TRUE(m_book->save()) << m_book->lastError().toStdString();
    m_book->close();
    EXPECT_EQ(
        corvane::testing::runPython(
            QStringLiteral("import sys, openpyxl\nprint(openpyxl.load_workbook(sys.argv[1]).sheetnames)\n"),
            {m_path}),
        QStringLiteral("['Ref']\n"));
}

// Calc follows the references itself; the engine's checks on the name come first, and a very
// hidden sheet stays very hidden under its new name.
TEST(LibreOfficeServerRename, ReferencesFollowAndInvalidNamesAreRefused)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("rename.xlsx"));
    ASSERT_FALSE(corvane::testing::runPython(QStringLiteral(R"PY(
import subprocess, sys, zipfile
subprocess.run([sys.executable, sys.argv[1], "make", sys.argv[2]], check=True)
with zipfile.ZipFile(sys.argv[2]) as z:
    entries = {n: z.read(n) for n in z.namelist()}
entries["xl/workbook.xml"] = entries["xl/workbook.xml"].replace(b'sheetId="2" state="visible"', b'sheetId="2" state="veryHidden"')
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as z:
    for n, b in entries.items():
        z.writestr(n, b)
)PY"),
                                             {QStringLiteral(CORVANE_SHEET_RENAME_CHECK), path})
                     .isNull());
    auto book = sharedOffice().open(path);
    ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
    for (const QString& refused :
         {QStringLiteral("History"), QStringLiteral("summary"), QStringLiteral("a:b"), QStringLiteral("x'"),
          QString(32, QLatin1Char('x'))}) {
        EXPECT_FALSE(book->renameSheet(2, refused)) << refused.toStdString();
        EXPECT_FALSE(book->lastError().isEmpty());
    }
    const QString newName = QStringLiteral("Q1 'Data' 2024");
    ASSERT_TRUE(book->renameSheet(2, newName)) << book->lastError().toStdString();
    EXPECT_EQ(book->sheet(2)->name(), newName);
    EXPECT_EQ(book->sheet(1)->formula(at("A1")), "='Q1 ''Data'' 2024'!A1*2");
    ASSERT_TRUE(book->save()) << book->lastError().toStdString();
    book->close();

    const QString read = corvane::testing::runPython(QStringLiteral(R"PY(
import sys, zipfile, openpyxl
from xml.etree import ElementTree as ET
wb = openpyxl.load_workbook(sys.argv[1])
print(wb.sheetnames, wb["Q1 'Data' 2024"].sheet_state)
s = wb["Summary"]
print(s["A1"].value, s["B1"].value, s["C3"].value, s["H1"].hyperlink.location)
print(wb.defined_names["Everything"].attr_text)
with zipfile.ZipFile(sys.argv[1]) as z:
    charts = [n for n in z.namelist() if n.startswith("xl/charts/chart")]
    chart = ET.fromstring(z.read(charts[0]))
    print(sorted({f.text for f in chart.iter("{http://schemas.openxmlformats.org/drawingml/2006/chart}f")}))
values = openpyxl.load_workbook(sys.argv[1], data_only=True)["Summary"]
print([values.cell(1, c).value for c in range(1, 7)])
)PY"),
                                                     {path});
    EXPECT_EQ(read.toStdString(),
              "['Summary', \"Q1 'Data' 2024\"] veryHidden\n"
              "='Q1 ''Data'' 2024'!A1*2 =SUM('Q1 ''Data'' 2024'!A1:B3) ='Q1 ''Data'' 2024'!A3+1 "
              "'Q1 ''Data'' 2024'!B2\n"
              "'Q1 ''Data'' 2024'!$A$1:$B$3\n"
              "[\"'Q1 ''Data'' 2024'!$A$1:$A$3\", \"'Q1 ''Data'' 2024'!$B$1:$B$3\"]\n"
              "[6, 165, 4, 3, 7, 165]\n");
}

TEST_F(LibreOfficeServerEdits, PicturesArePlacedFoundAndDeleted)
{
    Sheet* data = m_book->sheet(1);
    EXPECT_EQ(data->shapeCount(), 0);
    EXPECT_DOUBLE_EQ(*data->cellLeft(at("A1")), 0);
    EXPECT_DOUBLE_EQ(*data->cellTop(at("A1")), 0);
    const double left = *data->cellLeft(at("C3"));
    const double top = *data->cellTop(at("C3"));
    EXPECT_GT(left, 0);
    EXPECT_GT(top, 0);
    EXPECT_FALSE(data->addPicture(m_dir.filePath(QStringLiteral("missing.png")), left, top, -1, -1));
    EXPECT_FALSE(data->addPicture(m_path, left, top, -1, -1));
    EXPECT_EQ(data->shapeCount(), 0);
    ASSERT_TRUE(data->addPicture(m_dir.filePath(QStringLiteral("red.png")), left + 1, top + 1, -1, -1))
        << data->lastError().toStdString();
    ASSERT_TRUE(data->addPicture(m_dir.filePath(QStringLiteral("red.png")), 0, 0, 30, 20));
    EXPECT_EQ(data->shapeCount(), 2);
    EXPECT_EQ(data->shapeTopLeftCell(1), at("C3"));
    EXPECT_EQ(data->shapeTopLeftCell(2), at("A1"));
    EXPECT_FALSE(data->shapeTopLeftCell(3));
    // The picture moves with its cell.
    ASSERT_TRUE(data->insertRow(1));
    EXPECT_EQ(data->shapeTopLeftCell(1), at("C4"));
    ASSERT_TRUE(data->deleteShape(2));
    EXPECT_EQ(data->shapeCount(), 1);
    EXPECT_FALSE(data->deleteShape(2));
    ASSERT_TRUE(m_book->save()) << m_book->lastError().toStdString();
    m_book->close();
    // openpyxl does not keep pictures, but the package must carry exactly one, 3 x 2.25 pt.
    const QString read = corvane::testing::runPython(QStringLiteral(R"PY(
import sys, zipfile, re
z = zipfile.ZipFile(sys.argv[1])
media = [n for n in z.namelist() if n.startswith("xl/media/")]
drawing = "".join(z.read(n).decode() for n in z.namelist() if n.startswith("xl/drawings/drawing"))
ext = re.findall(r'<a:ext cx="(\d+)" cy="(\d+)"', drawing)
print(len(media), *ext[0])
)PY"),
                                                     {m_path});
    const QStringList parts = read.split(QLatin1Char(' '));
    ASSERT_EQ(parts.size(), 3) << read.toStdString();
    EXPECT_EQ(parts[0], QStringLiteral("1"));
    // 3 x 2.25 pt in EMU, to the 1/100 mm (360 EMU) LibreOffice keeps sizes in.
    EXPECT_NEAR(parts[1].toDouble(), 38100, 360);
    EXPECT_NEAR(parts[2].trimmed().toDouble(), 28575, 360);
}

TEST(LibreOfficeServerDisguised, WebAndTextExportsNamedXlsOpenAndKeepTheirFormat)
{
    QTemporaryDir dir;
    const QString web = dir.filePath(QStringLiteral("web.xls"));
    const QString text = dir.filePath(QStringLiteral("text.xls"));
    {
        QFile f(web);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<html><body><table><tr><td>name</td><td>old value</td></tr></table></body></html>\n");
        QFile g(text);
        ASSERT_TRUE(g.open(QIODevice::WriteOnly));
        g.write("name,old value\n1,2\n");
    }
    for (const QString& path : {web, text}) {
        SCOPED_TRACE(path.toStdString());
        auto book = sharedOffice().open(path);
        ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
        Sheet* s = book->sheet(1);
        ASSERT_TRUE(s->replace(*s->usedRange(), QStringLiteral("old"), QStringLiteral("new")));
        ASSERT_TRUE(book->save()) << book->lastError().toStdString();
        book->close();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray saved = f.readAll();
        EXPECT_TRUE(saved.contains("new value")) << saved.constData();
        EXPECT_FALSE(corvane::testing::isCompoundFile(path));
    }
}

// A replace over many cells, checked after the save by openpyxl: texts as Calc stores them (an
// apostrophe before a number-like one), formulas, long and multi-line texts, a merged cell, a
// replacement that only changes letter case, locked cells it need not change, and the formulas
// that depend on replaced cells, whose saved results must be current.
TEST(LibreOfficeServerReplace, ManyCellsComeOutAsIfReplacedOneByOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("many.xlsx"));
    ASSERT_FALSE(corvane::testing::runPython(QStringLiteral(R"PY(
import sys, openpyxl
from openpyxl.styles import Protection
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Cells"
ws["A1"] = "EeE"
ws["B1"] = '=A1&"!"'
ws["A2"] = "007"
ws["A3"] = '=LEN("Ee")+1'
ws["B3"] = "line e\nsecond line"
ws["A4"] = "x" * 20000 + "e"
ws["A5"] = "merged e"
ws.merge_cells("A5:C5")
for r in range(10, 210):
    ws.cell(r, 1, "row e %d" % r)
    ws.cell(r, 2, "=A%d" % r)
g = wb.create_sheet("Guarded")
g["A1"] = "EVE"
g["A2"] = "eve"
g["A2"].protection = Protection(locked=False)
g.protection.sheet = True
wb.save(sys.argv[1])
)PY"),
                                             {path})
                     .isNull());
    auto book = sharedOffice().open(path);
    ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
    Sheet* cells = book->sheet(1);
    Sheet* guarded = book->sheet(2);
    ASSERT_TRUE(cells->replace(*cells->usedRange(), QStringLiteral("e"), QStringLiteral("E")));
    // The text "007" becomes "008", which reads as a number when typed.
    ASSERT_TRUE(cells->replace(area("A2"), QStringLiteral("7"), QStringLiteral("8")));
    EXPECT_EQ(cells->value(at("A2")).kind, CellValue::Kind::Number);
    EXPECT_EQ(cells->value(at("B1")).text, QStringLiteral("EEE!"));
    // The locked "EVE" already reads as replaced: nothing to refuse.
    ASSERT_TRUE(guarded->replace(*guarded->usedRange(), QStringLiteral("e"), QStringLiteral("E")));
    EXPECT_EQ(guarded->replaceRefusal(), QString());
    ASSERT_TRUE(book->save()) << book->lastError().toStdString();
    book->close();
    EXPECT_EQ(
        corvane::testing::runPython(QStringLiteral(R"PY(
import sys, openpyxl
f, v = openpyxl.load_workbook(sys.argv[1]), openpyxl.load_workbook(sys.argv[1], data_only=True)
c, cv, g = f["Cells"], v["Cells"], f["Guarded"]
print(c["A1"].value, cv["B1"].value, c["A2"].value, c["A3"].value, cv["A3"].value, repr(c["B3"].value),
      len(c["A4"].value), c["A4"].value[-2:], c["A5"].value, [str(m) for m in c.merged_cells.ranges],
      sum(c.cell(r, 1).value == "row E %d" % r and cv.cell(r, 2).value == "row E %d" % r
          for r in range(10, 210)),
      g["A1"].value, g["A2"].value, g.protection.sheet, sep="|")
)PY"),
                                    {path})
            .toStdString(),
        "EEE|EEE!|8|=LEN(\"EE\")+1|3|'linE E\\nsEcond linE'|20001|xE|mErgEd E|['A5:C5']|200|EVE|EvE|True\n");
}

// Adjacent formulas are rewritten together: each must come out as the formula its own new text
// makes (cross-sheet references, functions whose API names differ, an add-in function), a note on
// one of them stays, a text that does not parse leaves its cell alone between neighbours that
// change, and the changes are reported in row-major order.
TEST(LibreOfficeServerReplace, AdjacentFormulasComeOutAsIfWrittenOneByOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("formulas.xlsx"));
    ASSERT_FALSE(corvane::testing::runPython(QStringLiteral(R"PY(
import sys, openpyxl
from openpyxl.comments import Comment
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "F"
for r in (1, 2, 3):
    ws.cell(r, 1, "e%d" % r)
    ws.cell(r, 2, '=A%d&"e"' % r)
    ws.cell(r, 3, '=LEN("ee")+ROW()')
ws["C2"].comment = Comment("keep me", "a")
ws["D1"] = '="q"&1'
ws["D2"] = '=1+Q2'
ws["D3"] = '=LEN("q")'
ws["E1"] = '=Other!A1&"e"'
ws["E2"] = '=IFERROR(ERROR.TYPE(1/0),0)&"e"'
ws["E3"] = '=EOMONTH(DATE(2020,1,15),0)&"e"'
wb.create_sheet("Other")["A1"] = "x"
wb.save(sys.argv[1])
)PY"),
                                             {path})
                     .isNull());
    auto book = sharedOffice().open(path);
    ASSERT_TRUE(book) << sharedOffice().lastError().toStdString();
    Sheet* s = book->sheet(1);
    QStringList reported;
    const CellChanged report = [&reported](const CellAddress& cell, const QString&, const QString& now) {
        reported << QStringLiteral("%1,%2:%3").arg(cell.row).arg(cell.column).arg(now);
    };
    ASSERT_TRUE(s->replace(area("B1:E3"), QStringLiteral("e"), QStringLiteral("E"), report));
    EXPECT_EQ(reported.join(QLatin1Char('|')).toStdString(),
              "1,2:=A1&\"E\"|1,3:=LEN(\"EE\")+ROW()|1,5:=Other!A1&\"E\"|"
              "2,2:=A2&\"E\"|2,3:=LEN(\"EE\")+ROW()|2,5:=IFERROR(ERROR.TYPE(1/0),0)&\"E\"|"
              "3,2:=A3&\"E\"|3,3:=LEN(\"EE\")+ROW()|3,5:=EOMONTH(DATE(2020,1,15),0)&\"E\"");
    ASSERT_TRUE(s->replace(area("D1:D3"), QStringLiteral("q"), QStringLiteral("*")));
    EXPECT_TRUE(s->lastError().contains(QStringLiteral("D2"))) << s->lastError().toStdString();
    ASSERT_TRUE(book->save()) << book->lastError().toStdString();
    book->close();
    EXPECT_EQ(corvane::testing::runPython(QStringLiteral(R"PY(
import sys, openpyxl
f, v = openpyxl.load_workbook(sys.argv[1]), openpyxl.load_workbook(sys.argv[1], data_only=True)
c, cv = f["F"], v["F"]
print([[c.cell(r, k).value for k in range(2, 6)] for r in (1, 2, 3)])
print([[cv.cell(r, k).value for k in (2, 3, 5)] for r in (1, 2, 3)], c["C2"].comment and c["C2"].comment.text)
)PY"),
                                          {path})
                  .toStdString(),
              "[['=A1&\"E\"', '=LEN(\"EE\")+ROW()', '=\"*\"&1', '=Other!A1&\"E\"'], "
              "['=A2&\"E\"', '=LEN(\"EE\")+ROW()', '=1+Q2', '=IFERROR(ERROR.TYPE(1/0),0)&\"E\"'], "
              "['=A3&\"E\"', '=LEN(\"EE\")+ROW()', '=LEN(\"*\")', '=EOMONTH(DATE(2020,1,15),0)&\"E\"']]\n"
              "[['e1E', 3, 'xE'], ['e2E', 4, '2E'], ['e3E', 5, '43861E']] keep me\n");
}

TEST(LibreOfficeServerLifetime, MissingLibreOfficeIsReportedByName)
{
    LibreOfficeServer server(QStringLiteral("/nonexistent/soffice"));
    EXPECT_FALSE(server.isAvailable());
    EXPECT_TRUE(server.lastError().contains(QStringLiteral("LibreOffice")))
        << server.lastError().toStdString();
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("a.xls")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("a,b\n1,2\n");
    f.close();
    EXPECT_EQ(server.open(f.fileName()), nullptr);
    EXPECT_TRUE(server.lastError().contains(QStringLiteral("LibreOffice")));
}

TEST(LibreOfficeServerLifetime, StartsOnFirstOpenRestartsAfterACrashAndQuitsCleanly)
{
    const QList<pid_t> before = ourOffices();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.xlsx"));
    ASSERT_FALSE(corvane::testing::runPython(
                     QStringLiteral("import sys, openpyxl\nwb = openpyxl.Workbook()\nwb.active['A1'] = 'hi'\n"
                                    "wb.save(sys.argv[1])\n"),
                     {path})
                     .isNull());
    {
        LibreOfficeServer server;
        EXPECT_EQ(ourOffices(), before) << "started before it was needed";
        QElapsedTimer timer;
        timer.start();
        auto book = server.open(path);
        ASSERT_TRUE(book) << server.lastError().toStdString();
        std::printf("LibreOffice start-up: %lld ms; first open in all: %lld ms\n",
                    static_cast<long long>(server.startMilliseconds()),
                    static_cast<long long>(timer.elapsed()));
        const QList<pid_t> running = ourOffices();
        ASSERT_EQ(running.size(), before.size() + 1);
        pid_t office = 0;
        for (pid_t p : running)
            if (!before.contains(p))
                office = p;
        book->close();

        // The office dies: the next open starts a new one.
        ::kill(office, SIGKILL);
        QThread::msleep(200);
        book = server.open(path);
        ASSERT_TRUE(book) << server.lastError().toStdString();
        EXPECT_EQ(book->sheet(1)->value(at("A1")).text, QStringLiteral("hi"));
        EXPECT_EQ(ourOffices().size(), before.size() + 1);
        book->close();
        server.quit();
        EXPECT_EQ(ourOffices(), before);
    }
    // Only the shared office's profile (if it runs) is left.
    EXPECT_LE(ourProfiles().size(), before.size());
}

TEST(LibreOfficeServerLifetime, OfficeLeftByADeadOwnerIsEnded)
{
    // A stand-in for soffice whose profile names an owner that no longer exists.
    const QString profile = QDir::tempPath() + QStringLiteral("/corvane-lo-testorphan");
    ASSERT_TRUE(QDir().mkpath(profile));
    {
        QFile owner(profile + QStringLiteral("/owner"));
        ASSERT_TRUE(owner.open(QIODevice::WriteOnly));
        // Above any pid Linux hands out (pid_max is at most 2^22).
        owner.write("2147483000");
    }
    QProcess orphan;
    orphan.start(QStringLiteral("/bin/sh"),
                 {QStringLiteral("-c"), QStringLiteral("sleep 60"),
                  QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile).toString()});
    ASSERT_TRUE(orphan.waitForStarted());
    OfficeProcess::endOrphans();
    EXPECT_TRUE(orphan.waitForFinished(5000));
    EXPECT_FALSE(QFileInfo::exists(profile));
}

} // namespace
