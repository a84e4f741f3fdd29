// The engine's package handling: what a save writes and what it leaves byte for byte, and how
// damaged, encrypted and hostile files are refused.
#include "workbookfixture.h"
#include "workbooktest.h"

#include "automation/native/nativeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"
#include "operations/findreplace.h"
#include "run/runskeleton.h"
#include "tests/support/recordingsink.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <libdeflate.h>
#include <zip.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>

using namespace corvane::automation;
using namespace corvane::testing;
using corvane::automation::native::NativeServer;

namespace {

const CellAddress kA1{1, 1};

class PackageTest : public WorkbookTest
{
protected:
    QString standardBook(const FixtureOptions& options = {{"<t>alpha</t>", "<t>beta</t>"}, true, true})
    {
        const QString p = path(QStringLiteral("book.xlsx"));
        EXPECT_TRUE(writeWorkbook(
            p,
            {{"One", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>3</v></c></row>"},
             {"Two", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c></row>"}},
            options));
        return p;
    }

    // Entries whose stored bytes differ between two packages, plus those only in one of them.
    static std::set<std::string> changedEntries(const std::map<std::string, RawEntry>& a,
                                                const std::map<std::string, RawEntry>& b)
    {
        std::set<std::string> out;
        for (const auto& [name, e] : a) {
            const auto it = b.find(name);
            if (it == b.end() || it->second.compressed != e.compressed || it->second.crc != e.crc)
                out.insert(name);
        }
        for (const auto& [name, e] : b) {
            if (!a.count(name))
                out.insert(name);
        }
        return out;
    }
};

TEST_F(PackageTest, OneCellChangeRewritesOnlyTheNeededParts)
{
    const QString p = standardBook();
    const auto before = readRawEntries(p);
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb) << m_server.lastError().toStdString();
    ASSERT_TRUE(wb->sheet(2)->usedRange()); // visited, not changed
    ASSERT_TRUE(wb->sheet(1)->setValue(kA1, QStringLiteral("gamma")));
    ASSERT_TRUE(wb->save()) << wb->lastError().toStdString();
    const auto after = readRawEntries(p);
    EXPECT_EQ(
        changedEntries(before, after),
        (std::set<std::string>{"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/workbook.xml",
                               "xl/calcChain.xml", "xl/_rels/workbook.xml.rels", "[Content_Types].xml"}));
    EXPECT_FALSE(after.count("xl/calcChain.xml"));
    EXPECT_EQ(readEntry(p, "[Content_Types].xml").find("calcChain"), std::string::npos);
    EXPECT_EQ(readEntry(p, "xl/_rels/workbook.xml.rels").find("calcChain"), std::string::npos);
    EXPECT_NE(readEntry(p, "xl/workbook.xml").find("<calcPr calcId=\"191029\" fullCalcOnLoad=\"1\"/>"),
              std::string::npos);
    // The released string stays in the table; counts follow the cells.
    EXPECT_NE(readEntry(p, "xl/sharedStrings.xml").find("count=\"2\" uniqueCount=\"3\""), std::string::npos);
    EXPECT_EQ(
        readEntry(p, "xl/worksheets/sheet1.xml"),
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet "
        "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheetData><row "
        "r=\"1\"><c r=\"A1\" t=\"s\"><v>2</v></c><c r=\"B1\"><v>3</v></c></row></sheetData></worksheet>");
}

TEST_F(PackageTest, UnchangedEntriesKeepTheirCompressedBytes)
{
    // A stored (uncompressed) entry and a deflated one must both come through as they were.
    const QString p = standardBook();
    {
        int err = 0;
        zip_t* z = zip_open(QFile::encodeName(p).constData(), 0, &err);
        ASSERT_TRUE(z);
        static const char media[] = "not really a picture, stored without compression";
        zip_source_t* s = zip_source_buffer(z, media, sizeof media, 0);
        const zip_int64_t i = zip_file_add(z, "xl/media/image1.bin", s, 0);
        zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
        ASSERT_EQ(zip_close(z), 0);
    }
    const auto before = readRawEntries(p);
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb);
    ASSERT_TRUE(wb->sheet(1)->setValue({1, 2}, QStringLiteral("4")));
    ASSERT_TRUE(wb->save());
    const auto after = readRawEntries(p);
    ASSERT_TRUE(after.count("xl/media/image1.bin"));
    EXPECT_EQ(after.at("xl/media/image1.bin").method, ZIP_CM_STORE);
    EXPECT_EQ(after.at("xl/media/image1.bin").compressed, before.at("xl/media/image1.bin").compressed);
    EXPECT_EQ(after.at("xl/worksheets/sheet2.xml").compressed,
              before.at("xl/worksheets/sheet2.xml").compressed);
    EXPECT_EQ(after.at("xl/sharedStrings.xml").compressed, before.at("xl/sharedStrings.xml").compressed);
}

TEST_F(PackageTest, NoChangeMeansNoWrite)
{
    const QString p = standardBook();
    const QDateTime modified = QFileInfo(p).lastModified();
    const QByteArray bytes = fileBytes(p);
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb);
    for (int i = 1; i <= wb->sheetCount(); ++i) {
        Sheet* s = wb->sheet(i);
        s->find(*s->usedRange(), {QStringLiteral("alpha"), LookIn::Values, LookAt::Part});
        s->value(kA1);
    }
    // Replacing a text by itself is no change either.
    EXPECT_FALSE(
        wb->sheet(1)->replace(*wb->sheet(1)->usedRange(), QStringLiteral("alpha"), QStringLiteral("alpha")));
    ASSERT_TRUE(wb->save());
    wb->close();
    EXPECT_EQ(fileBytes(p), bytes);
    EXPECT_EQ(QFileInfo(p).lastModified(), modified);
}

TEST_F(PackageTest, SaveKeepsPermissionsAndLeavesNoTemporaryFiles)
{
    const QString p = standardBook();
    ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0640), 0);
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb);
    ASSERT_TRUE(wb->sheet(1)->setValue(kA1, QStringLiteral("x")));
    ASSERT_TRUE(wb->save());
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(p).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("book.xlsx")});
    // A second change after a save goes to the saved file.
    ASSERT_TRUE(wb->sheet(2)->setValue(kA1, QStringLiteral("y")));
    ASSERT_TRUE(wb->save()) << wb->lastError().toStdString();
    wb->close();
    auto again = m_server.open(p);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sheet(1)->value(kA1).text, QStringLiteral("x"));
    EXPECT_EQ(again->sheet(2)->value(kA1).text, QStringLiteral("y"));
}

TEST_F(PackageTest, FailedSaveLeavesTheOriginal)
{
    const QString p = standardBook();
    const QByteArray bytes = fileBytes(p);
    {
        // Read-only file: the application will not save over it.
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0444), 0);
        auto wb = m_server.open(p);
        ASSERT_TRUE(wb);
        ASSERT_TRUE(wb->sheet(1)->setValue(kA1, QStringLiteral("x")));
        EXPECT_FALSE(wb->save());
        EXPECT_FALSE(wb->lastError().isEmpty());
        EXPECT_EQ(fileBytes(p), bytes);
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), 0644), 0);
    }
    if (::geteuid() == 0)
        GTEST_SKIP() << "a read-only folder does not bind the superuser";
    {
        // Read-only folder: no temporary file can be made beside it.
        const QByteArray dir = QFile::encodeName(m_dir.path());
        auto wb = m_server.open(p);
        ASSERT_TRUE(wb);
        ASSERT_TRUE(wb->sheet(1)->setValue(kA1, QStringLiteral("x")));
        ASSERT_EQ(::chmod(dir.constData(), 0555), 0);
        EXPECT_FALSE(wb->save());
        ::chmod(dir.constData(), 0755);
        EXPECT_EQ(fileBytes(p), bytes);
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("book.xlsx")});
        // Once the folder is writable again the same changes can be saved.
        EXPECT_TRUE(wb->save()) << wb->lastError().toStdString();
    }
}

TEST_F(PackageTest, DamagedAndForeignFilesAreRefusedUntouched)
{
    const QString good = standardBook();
    const QByteArray goodBytes = fileBytes(good);
    struct Case
    {
        const char* name;
        QByteArray bytes;
        const char* reason;
    };
    QByteArray compound("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    compound += QByteArray(512, '\0');
    QByteArray encrypted = compound;
    encrypted += QByteArray::fromRawData("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
    const std::vector<Case> cases = {
        {"zero.xlsx", QByteArray(), "not a workbook"},
        {"text.xlsx", QByteArray("hello"), "not a workbook"},
        {"truncated.xlsx", goodBytes.left(goodBytes.size() / 2), "damaged"},
        {"tail.xlsx", goodBytes.mid(goodBytes.size() / 3), "damaged"},
        {"binary.xls", compound, "damaged"},
        {"encrypted.xlsx", encrypted, "encrypted"},
    };
    for (const Case& c : cases) {
        const QString p = path(QString::fromLatin1(c.name));
        ASSERT_TRUE(writeFile(p, c.bytes));
        EXPECT_EQ(m_server.open(p), nullptr) << c.name;
        EXPECT_TRUE(m_server.lastError().startsWith(QLatin1String(c.reason)))
            << c.name << ": " << m_server.lastError().toStdString();
        EXPECT_EQ(fileBytes(p), c.bytes) << c.name;
    }
}

TEST_F(PackageTest, BrokenPartsAreRefusedWithTheirReason)
{
    const std::string types = readEntry(standardBook(), "[Content_Types].xml");
    const auto base = readEntries(path(QStringLiteral("book.xlsx")));
    struct Case
    {
        const char* entry;
        std::string content; // empty: entry removed
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"xl/workbook.xml",
         "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheets>",
         "damaged: malformed XML in xl/workbook.xml"},
        {"xl/workbook.xml", "", "damaged: the package has no workbook part"},
        {"[Content_Types].xml", "", "damaged: not an Open XML package"},
        {"xl/workbook.xml",
         "<workbook xmlns=\"http://purl.oclc.org/ooxml/spreadsheetml/main\"><sheets/></workbook>",
         "unsupported: a strict Open XML workbook"},
        {"xl/sharedStrings.xml",
         "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
         "\"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">]><sst "
         "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>&lol2;</t></si></sst>",
         "unsupported: xl/sharedStrings.xml declares a document type"},
    };
    int n = 0;
    for (const Case& c : cases) {
        auto e = base;
        if (c.content.empty())
            e.erase(c.entry);
        else
            e[c.entry] = c.content;
        const QString p = path(QStringLiteral("case%1.xlsx").arg(++n));
        ASSERT_TRUE(writeZip(p, e));
        const QByteArray bytes = fileBytes(p);
        EXPECT_EQ(m_server.open(p), nullptr) << c.reason;
        EXPECT_TRUE(m_server.lastError().startsWith(QLatin1String(c.reason)))
            << c.reason << " / " << m_server.lastError().toStdString();
        EXPECT_EQ(fileBytes(p), bytes);
    }
    // A damaged sheet part refuses that sheet only when it is visited.
    auto e = base;
    e["xl/worksheets/sheet2.xml"] = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"";
    const QString p = path(QStringLiteral("sheet.xlsx"));
    ASSERT_TRUE(writeZip(p, e));
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb);
    EXPECT_TRUE(wb->sheet(1)->usedRange());
    EXPECT_TRUE(wb->damage().isEmpty());
    EXPECT_FALSE(wb->sheet(2)->usedRange());
    EXPECT_TRUE(wb->sheet(2)->lastError().startsWith(QLatin1String("damaged")));
    // The workbook remembers it, so that a run does not save the rest as if all was done.
    EXPECT_EQ(wb->damage(), wb->sheet(2)->lastError());
}

TEST_F(PackageTest, RunLeavesAWorkbookWithABadChecksumUntouched)
{
    // A sheet whose stored checksum does not match its bytes: libzip notices once it is read.
    const QString p = standardBook();
    QByteArray bytes = fileBytes(p);
    const QByteArray name = "xl/worksheets/sheet2.xml";
    int at = -1;
    for (int i = bytes.indexOf(name); i >= 0; i = bytes.indexOf(name, i + 1)) {
        if (i >= 30 && bytes.mid(i - 30, 4) == QByteArray("PK\x03\x04", 4)) {
            at = i - 30;
            break;
        }
    }
    ASSERT_GE(at, 0);
    // Flip one bit of the CRC in the local header and in the central directory.
    bytes[at + 14] = char(bytes[at + 14] ^ 1);
    for (int i = bytes.indexOf(name); i >= 0; i = bytes.indexOf(name, i + 1)) {
        if (i >= 46 && bytes.mid(i - 46, 4) == QByteArray("PK\x01\x02", 4))
            bytes[i - 46 + 16] = char(bytes[i - 46 + 16] ^ 1);
    }
    ASSERT_TRUE(writeFile(p, bytes));

    corvane::testsupport::RecordingSink sink;
    RunSettings settings;
    settings.sourcePath = m_dir.path() + QLatin1Char('/');
    FindReplaceOperation op({QStringLiteral("alpha"), QStringLiteral("gamma"), false});
    runOperation(
        settings, [] { return std::make_unique<NativeServer>(); }, op, sink);

    EXPECT_EQ(fileBytes(p), bytes);
    EXPECT_EQ(sink.lists.value("OpenFailed"), QDir::toNativeSeparators(p) + "\n");
    EXPECT_FALSE(sink.lists.contains("Matched"));
}

TEST_F(PackageTest, HostilePackagesAreRefusedWithinBounds)
{
    const QString p = standardBook();
    const std::map<std::string, std::string> e = readEntries(p);
    {
        // A part that inflates beyond what a part may: refused when read, without holding it.
        auto big = e;
        std::string bomb =
            "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
        bomb.append(size_t(257) << 20, ' ');
        big["xl/worksheets/sheet2.xml"] = bomb + "</sheetData></worksheet>";
        const QString bp = path(QStringLiteral("inflate.xlsx"));
        ASSERT_TRUE(writeZip(bp, big));
        auto wb = m_server.open(bp);
        ASSERT_TRUE(wb);
        EXPECT_FALSE(wb->sheet(2)->usedRange());
        EXPECT_TRUE(wb->sheet(2)->lastError().startsWith(QLatin1String("unsupported")))
            << wb->sheet(2)->lastError().toStdString();
        EXPECT_TRUE(wb->sheet(1)->usedRange());
    }
    {
        auto many = e;
        for (int i = 0; i <= 50000; ++i)
            many["xl/filler/f" + std::to_string(i)] = std::string();
        const QString mp = path(QStringLiteral("entries.xlsx"));
        ASSERT_TRUE(writeZip(mp, many));
        EXPECT_EQ(m_server.open(mp), nullptr);
        EXPECT_TRUE(m_server.lastError().startsWith(QLatin1String("unsupported")))
            << m_server.lastError().toStdString();
    }
}

TEST_F(PackageTest, PartsElsewhereThanXlAreFoundThroughRelationships)
{
    const QString p = standardBook();
    std::map<std::string, std::string> e;
    for (auto [name, content] : readEntries(p)) {
        std::string target = name;
        if (name.rfind("xl/", 0) == 0)
            target = "book/" + name.substr(3);
        for (const std::string from : {"/xl/", "\"xl/"}) {
            for (size_t at = content.find(from); at != std::string::npos; at = content.find(from, at + 1))
                content.replace(at + 1, 2, "book");
        }
        e[target] = content;
    }
    const QString moved = path(QStringLiteral("moved.xlsx"));
    ASSERT_TRUE(writeZip(moved, e));
    auto wb = m_server.open(moved);
    ASSERT_TRUE(wb) << m_server.lastError().toStdString();
    EXPECT_EQ(wb->sheet(2)->value(kA1).text, QStringLiteral("beta"));
}

TEST_F(PackageTest, WorkbooksAreRecognisedByContentNotName)
{
    const QString p = standardBook();
    const QString renamed = path(QStringLiteral("really.xls"));
    ASSERT_TRUE(QFile::rename(p, renamed));
    auto wb = m_server.open(renamed);
    ASSERT_TRUE(wb) << m_server.lastError().toStdString();
    EXPECT_EQ(wb->sheet(1)->value(kA1).text, QStringLiteral("alpha"));
}

TEST_F(PackageTest, AMegabyteStringIsReadAndSearched)
{
    const QString p = path(QStringLiteral("long.xlsx"));
    const std::string big(1 << 20, 'w');
    ASSERT_TRUE(writeWorkbook(p, {{"S", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"}},
                              {{"<t>" + big + "needle</t>"}, false, true}));
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    EXPECT_EQ(s->value(kA1).text.size(), (1 << 20) + 6);
    EXPECT_EQ(s->find({1, 1, 1, 1}, {QStringLiteral("*needle"), LookIn::Values, LookAt::Whole}), kA1);
    // Longer than a cell may hold once something is added: the application refuses, so does the engine.
    EXPECT_FALSE(s->replace({1, 1, 1, 1}, QStringLiteral("needle"), QStringLiteral("pin")));
}

TEST_F(PackageTest, WrittenPartsAreDeflatedAtLevelSixNotNine)
{
    // libzip deflates a replaced entry at level 9 whatever it is told; the engine stores its own
    // level-6 stream, which must come through untouched and be no larger than zlib's level 6.
    std::string rows;
    for (int r = 1; r <= 3000; ++r) {
        const std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"inlineStr\"><is><t>item " +
                std::to_string(r * 7919 % 100003) + " of needle</t></is></c><c r=\"B" + n + "\"><v>" +
                std::to_string(r * 31 % 977) + ".25</v></c></row>";
    }
    const QString p = path(QStringLiteral("big.xlsx"));
    ASSERT_TRUE(writeWorkbook(p, {{"S", rows}}));
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb);
    ASSERT_TRUE(wb->sheet(1)->replace({1, 1, 3000, 2}, QStringLiteral("needle"), QStringLiteral("pin")));
    ASSERT_TRUE(wb->save()) << wb->lastError().toStdString();
    wb->close();

    const std::string sheet = readEntry(p, "xl/worksheets/sheet1.xml");
    ASSERT_EQ(sheet.find("needle"), std::string::npos);
    const RawEntry stored = readRawEntries(p).at("xl/worksheets/sheet1.xml");
    EXPECT_EQ(stored.method, ZIP_CM_DEFLATE);

    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    std::string level6(libdeflate_deflate_compress_bound(c, sheet.size()), '\0');
    level6.resize(libdeflate_deflate_compress(c, sheet.data(), sheet.size(), level6.data(), level6.size()));
    libdeflate_free_compressor(c);
    EXPECT_TRUE(stored.compressed == level6)
        << "stored " << stored.compressed.size() << " bytes, level 6 gives " << level6.size();

    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string zlib6(deflateBound(&z, static_cast<uLong>(sheet.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(sheet.data()));
    z.avail_in = static_cast<uInt>(sheet.size());
    z.next_out = reinterpret_cast<Bytef*>(zlib6.data());
    z.avail_out = static_cast<uInt>(zlib6.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    deflateEnd(&z);
    EXPECT_LE(stored.compressed.size(), z.total_out);
}

TEST_F(PackageTest, SharedStringsChangeInPlaceOnlyWhenNoOtherCellShowsThem)
{
    // A string whose every cell takes the same new text changes in the table and the sheets are
    // not written; one that a cell outside the replace still shows is copied on write.
    struct Case
    {
        const char* name;
        const char* two; // Sheet Two's A1: a reference to string 0 or 1
        RangeAddress in; // replaced on sheet One
        bool inPlace;
        const char* values;       // One!A1, One!B1, Two!A1 as openpyxl reads them
        const char* oneMore = ""; // further cells of One's row 1
    };
    const std::vector<Case> cases = {
        {"in place", "1", {1, 1, 1, 3}, true, "the pin|the pin|other"},
        {"another sheet shows it", "0", {1, 1, 1, 3}, false, "the pin|the pin|the needle"},
        {"a cell outside the range shows it", "1", {1, 1, 1, 1}, false, "the pin|the needle|other"},
        {"a formula in the range holds it as its result",
         "1",
         {1, 1, 1, 4},
         false,
         "the pin|the pin|other",
         "<c r=\"D1\" t=\"s\"><f>\"x\"</f><v>0</v></c>"},
    };
    for (const Case& c : cases) {
        const QString p = path(QStringLiteral("shared.xlsx"));
        QFile::remove(p);
        ASSERT_TRUE(writeWorkbook(
            p,
            {{"One", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>0</v></c>"
                     "<c r=\"C1\" t=\"s\"><v>1</v></c>" +
                         std::string(c.oneMore) + "</row>"},
             {"Two", std::string("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>") + c.two + "</v></c></row>"}},
            {{"<t>the needle</t>", "<t>other</t>"}, false, true}));
        const auto before = readRawEntries(p);
        {
            auto wb = m_server.open(p);
            ASSERT_TRUE(wb);
            ASSERT_TRUE(wb->sheet(1)->replace(c.in, QStringLiteral("needle"), QStringLiteral("pin")))
                << c.name;
            EXPECT_EQ(wb->sheet(1)->formula({1, 1}), QStringLiteral("the pin")) << c.name;
            ASSERT_TRUE(wb->save()) << c.name;
        }
        const auto after = readRawEntries(p);
        EXPECT_EQ(after.at("xl/worksheets/sheet1.xml").compressed ==
                      before.at("xl/worksheets/sheet1.xml").compressed,
                  c.inPlace)
            << c.name;
        EXPECT_EQ(after.at("xl/worksheets/sheet2.xml").compressed,
                  before.at("xl/worksheets/sheet2.xml").compressed)
            << c.name;
        const std::string strings = readEntry(p, "xl/sharedStrings.xml");
        EXPECT_EQ(strings.find("<si><t>the pin</t></si><si><t>other</t></si>") != std::string::npos,
                  c.inPlace)
            << c.name << ": " << strings;
        if (m_python.isEmpty())
            continue;
        const QByteArray read =
            python({QStringLiteral("-c"),
                    QStringLiteral("import openpyxl,sys\n"
                                   "wb=openpyxl.load_workbook(sys.argv[1])\n"
                                   "print('|'.join([wb['One']['A1'].value,wb['One']['B1'].value,"
                                   "wb['Two']['A1'].value]))"),
                    p},
                   {}, 60000);
        EXPECT_EQ(QString::fromUtf8(read).trimmed(), QString::fromUtf8(c.values)) << c.name;
    }
}

} // namespace
