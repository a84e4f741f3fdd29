// Cell-level behaviour of the engine: texts shown and typed, wildcards, shared and array
// formulas, strings written shared or inline, and the XML around an edit kept as it was.
#include "workbookfixture.h"
#include "workbooktest.h"

#include "automation/native/nativeserver.h"
#include "automation/native/text/celltext.h"
#include "automation/native/text/searchpattern.h"
#include "automation/native/xmltext.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace corvane::automation;
using namespace corvane::automation::native;
using namespace corvane::testing;

namespace {

CellAddress at(const char* name)
{
    return parseRangeAddress(QString::fromLatin1(name))->topLeft();
}

TEST(CellText, GeneralNumberFormat)
{
    EXPECT_EQ(generalNumberText(0), QStringLiteral("0"));
    EXPECT_EQ(generalNumberText(12.5), QStringLiteral("12.5"));
    EXPECT_EQ(generalNumberText(-3), QStringLiteral("-3"));
    EXPECT_EQ(generalNumberText(0.1 + 0.2), QStringLiteral("0.3"));
    EXPECT_EQ(generalNumberText(1e20), QStringLiteral("1E+20"));
    EXPECT_EQ(generalNumberText(1.5e-7), QStringLiteral("1.5E-07"));
    EXPECT_EQ(generalNumberText(123456789012345.0), QStringLiteral("123456789012345"));
}

TEST(CellText, TypedInput)
{
    CellInput in;
    ASSERT_TRUE(parseTypedInput(QStringLiteral("-1.5e3"), in));
    EXPECT_EQ(in.kind, CellInput::Kind::Number);
    EXPECT_DOUBLE_EQ(in.number, -1500);
    ASSERT_TRUE(parseTypedInput(QStringLiteral("12.5%"), in));
    EXPECT_DOUBLE_EQ(in.number, 0.125);
    ASSERT_TRUE(parseTypedInput(QStringLiteral("FALSE"), in));
    EXPECT_EQ(in.kind, CellInput::Kind::Boolean);
    EXPECT_FALSE(in.boolean);
    ASSERT_TRUE(parseTypedInput(QStringLiteral("#n/a"), in));
    EXPECT_EQ(in.kind, CellInput::Kind::Error);
    EXPECT_EQ(in.text, QStringLiteral("#N/A"));
    ASSERT_TRUE(parseTypedInput(QStringLiteral("'=not a formula"), in));
    EXPECT_EQ(in.kind, CellInput::Kind::Text);
    EXPECT_EQ(in.text, QStringLiteral("=not a formula"));
    ASSERT_TRUE(parseTypedInput(QStringLiteral("12 apples"), in));
    EXPECT_EQ(in.kind, CellInput::Kind::Text);
    ASSERT_TRUE(parseTypedInput(QStringLiteral("=IF(A1=\"(\",1,2)"), in));
    EXPECT_EQ(in.kind, CellInput::Kind::Formula);
    EXPECT_FALSE(parseTypedInput(QStringLiteral("="), in));
    EXPECT_FALSE(parseTypedInput(QStringLiteral("=SUM(A1"), in));
    EXPECT_FALSE(parseTypedInput(QStringLiteral("=\"open"), in));
    EXPECT_FALSE(parseTypedInput(QStringLiteral("='Sheet 1!A1"), in));
}

TEST(SearchPattern, StoredPieceIsFoundAtEveryOffsetOfALongText)
{
    // Long texts are searched many bytes at a time; every place must still be found once, in
    // either letter case, and look-alikes that differ only in the case bit must not be.
    const SearchPattern needle(QStringLiteral("NeEdle"), false);
    const SearchPattern dash(QStringLiteral("-ab-"), false);
    for (size_t at = 0; at < 40; ++at) {
        for (const std::string stored : {"needle", "NEEDLE", "nEeDlE"}) {
            std::string bytes = std::string(at, 'e') + stored + std::string(40 - at, 'n') + stored;
            EXPECT_EQ(needle.placesIn(bytes), (std::vector<std::size_t>{at, 46})) << at << stored;
            bytes[at + 3] = 'D' ^ 0x20 ^ 0x01;
            EXPECT_EQ(needle.placesIn(bytes), std::vector<std::size_t>{46}) << at << stored;
        }
        const std::string lookAlike = std::string(at, 'x') + "\rab\r" + std::string(40, 'x');
        EXPECT_FALSE(dash.mayBeIn(lookAlike)) << at;
        EXPECT_TRUE(dash.mayBeIn(std::string(at, 'x') + "-AB-" + std::string(40, 'x'))) << at;
    }
}

TEST(SearchPattern, WildcardsReplaceWholeRuns)
{
    EXPECT_EQ(
        SearchPattern(QStringLiteral("b*d"), false).replaceAll(QStringLiteral("abcdbd"), QStringLiteral("X")),
        QStringLiteral("aX"));
    EXPECT_EQ(
        SearchPattern(QStringLiteral("*"), false).replaceAll(QStringLiteral("anything"), QStringLiteral("X")),
        QStringLiteral("X"));
    EXPECT_EQ(SearchPattern(QStringLiteral("?"), false).replaceAll(QStringLiteral("ab"), QStringLiteral("X")),
              QStringLiteral("XX"));
    EXPECT_EQ(
        SearchPattern(QStringLiteral("AA"), false).replaceAll(QStringLiteral("aaa"), QStringLiteral("b")),
        QStringLiteral("ba"));
    EXPECT_EQ(SearchPattern(QStringLiteral("x"), false).replaceAll(QStringLiteral("x"), QStringLiteral("xx")),
              QStringLiteral("xx"));
    EXPECT_EQ(SearchPattern(QStringLiteral("(.)"), false)
                  .replaceAll(QStringLiteral("a(.)b"), QStringLiteral("\\1")),
              QStringLiteral("a\\1b"));
    EXPECT_TRUE(SearchPattern(QStringLiteral("STRASSE"), true).matches(QStringLiteral("strasse")));
    EXPECT_TRUE(SearchPattern(QStringLiteral("订单*"), true).matches(QStringLiteral("订单123")));
    EXPECT_FALSE(SearchPattern(QStringLiteral("~a"), false).matches(QStringLiteral("a")));
    EXPECT_TRUE(SearchPattern(QStringLiteral("~a"), false).matches(QStringLiteral("x~a")));
    EXPECT_TRUE(SearchPattern(QStringLiteral("a*b"), true).matches(QStringLiteral("a\nb")));
}

TEST(XmlText, CellTextEscapes)
{
    EXPECT_EQ(decodeCellText("a&amp;b&lt;&#x41;&#66;_x000D_\r\n_x005F_x0041_"),
              QStringLiteral("a&b<AB\r\n_x0041_"));
    EXPECT_EQ(encodeCellText(QStringLiteral("a&b\x01_x0041_")), "a&amp;b_x0001__x005F_x0041_");
    EXPECT_EQ(decodeCellText(encodeCellText(QStringLiteral("x\x02y_x1234_ <z>"))),
              QStringLiteral("x\x02y_x1234_ <z>"));
    EXPECT_EQ(decodeXml("&unknown; & &#0;"), QStringLiteral("&unknown; & &#0;"));
}

class EngineCells : public WorkbookTest
{
protected:
    std::unique_ptr<Workbook> open(const std::vector<FixtureSheet>& sheets,
                                   const FixtureOptions& options = {})
    {
        m_path = path(QStringLiteral("cells.xlsx"));
        EXPECT_TRUE(writeWorkbook(m_path, sheets, options));
        return WorkbookTest::open(m_path);
    }
    std::string sheetXml(int n = 1) const
    {
        return readEntry(m_path, "xl/worksheets/sheet" + std::to_string(n) + ".xml");
    }

    QString m_path;
};

const char* const kSharedGroup =
    "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" "
    "si=\"0\">A1+$A$1</f><v>2</v></c></row>"
    "<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>3</v></c></row>"
    "<row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>4</v></c></row>";

TEST_F(EngineCells, OverwritingASharedFormulaMemberWritesTheGroupOut)
{
    auto wb = open({{"S", kSharedGroup}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    EXPECT_EQ(s->formula(at("B2")), QStringLiteral("=A2+$A$1"));
    ASSERT_TRUE(s->setValue(at("B2"), QStringLiteral("7")));
    EXPECT_EQ(s->formula(at("B1")), QStringLiteral("=A1+$A$1"));
    EXPECT_EQ(s->formula(at("B2")), QStringLiteral("7"));
    EXPECT_EQ(s->formula(at("B3")), QStringLiteral("=A3+$A$1"));
    ASSERT_TRUE(wb->save());
    const std::string xml = sheetXml();
    EXPECT_EQ(xml.find("t=\"shared\""), std::string::npos);
    EXPECT_NE(xml.find("<c r=\"B3\"><f>A3+$A$1</f><v>4</v></c>"), std::string::npos);
}

TEST_F(EngineCells, ReplacingInTheMasterKeepsTheOtherMembers)
{
    auto wb = open({{"S", kSharedGroup}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    ASSERT_TRUE(s->replace(at("B1").row == 1 ? RangeAddress{1, 2, 1, 2} : RangeAddress{}, QStringLiteral("+"),
                           QStringLiteral("-")));
    EXPECT_EQ(s->formula(at("B1")), QStringLiteral("=A1-$A$1"));
    EXPECT_EQ(s->formula(at("B2")), QStringLiteral("=A2+$A$1"));
    EXPECT_EQ(s->formula(at("B3")), QStringLiteral("=A3+$A$1"));
}

TEST_F(EngineCells, TextsNotStoredAsSearchedAreStillFound)
{
    // A sheet or cell is passed over when its bytes cannot hold the find text; these hold
    // matches whose text is written otherwise, made from elsewhere, or matched regardless of case.
    struct Case
    {
        const char* what;
        std::string cell; // B1
        std::vector<std::string> strings;
        const char* found; // "" when nothing matches
    };
    const auto text = [](const char* t) {
        return "<c r=\"B1\" t=\"inlineStr\"><is><t>" + std::string(t) + "</t></is></c>";
    };
    const std::vector<Case> cases = {
        {"needle", text("&#110;ee&#x64;le"), {}, "B1"},
        {"needle", text("_x006E_eedle"), {}, "B1"},
        {"needle", text("&#95;x006E_eedle"), {}, "B1"},
        {"\xE8\xAE\xA2\xE5\x8D\x95", text("&#35746;&#21333;1"), {}, "B1"},
        {"\xE8\xAE\xA2\xE5\x8D\x95", "<c r=\"B1\" t=\"s\"><v>0</v></c>", {"<t>x&#35746;&#x5355;</t>"}, "B1"},
        {"needle", text("&#35746;needl&#21333;e"), {}, ""},
        {"needle", text("NeEdLe"), {}, "B1"},
        {"kk", text("\xE2\x84\xAA\xE2\x84\xAA"), {}, "B1"}, // Kelvin signs
        {"nest", text("ne\xC5\xBFt"), {}, "B1"},            // long s
        {"\xE8\xAE\xA2\xE5\x8D\x95",
         "<c r=\"B1\" t=\"s\"><v>0</v></c>",
         {"<t>\xE8\xAE\xA2\xE5\x8D\x95</t>"},
         "B1"},
        {"Nee*DLE",
         "<c r=\"B1\" t=\"s\"><v>0</v></c>",
         {"<r><t>nee</t></r><r><t>x</t></r><r><t>dle</t></r>"},
         "B1"},
        {"ne?dle", text("ne&amp;dle"), {}, "B1"},
        {"needle",
         "<c r=\"B1\" t=\"inlineStr\"><is><r><rPr><b/></rPr><t>nee</t></r><r><t>dle</t></r></is></c>",
         {},
         "B1"},
        {"E+20", "<c r=\"B1\"><v>100000000000000000000</v></c>", {}, "B1"},
        {"RU", "<c r=\"B1\" t=\"b\"><v>1</v></c>", {}, "B1"},
        {"=sum", "<c r=\"B1\"><f>SUM(A1)</f><v>0</v></c>", {}, "B1"},
        {"needle", text("hay"), {"<t>needle</t>"}, ""},
        {"needle", "<c r=\"B1\" t=\"s\"><v>1</v></c>", {"<t>needle</t>", "<t>hay</t>"}, ""},
    };
    for (const Case& c : cases) {
        const std::string rows =
            "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c>" + c.cell + "</row>";
        auto wb = open({{"S", rows}}, {c.strings, false, !c.strings.empty()});
        ASSERT_TRUE(wb);
        Sheet* s = wb->sheet(1);
        const QString what = QString::fromUtf8(c.what);
        const auto expected = *c.found ? std::optional<CellAddress>(at(c.found)) : std::nullopt;
        EXPECT_EQ(s->mayHold(what) || !expected, true) << c.cell;
        EXPECT_EQ(s->find({1, 1, 1, 2}, {what, LookIn::Formulas, LookAt::Part}), expected) << c.cell;
    }
    // A moved shared formula shows a text its bytes do not hold.
    auto wb = open({{"S", kSharedGroup}});
    ASSERT_TRUE(wb);
    EXPECT_TRUE(wb->sheet(1)->mayHold(QStringLiteral("A3+")));
    EXPECT_EQ(wb->sheet(1)->find({1, 1, 3, 2}, {QStringLiteral("A3+"), LookIn::Formulas, LookAt::Part}),
              at("B3"));
    // One that cannot match is passed over.
    wb.reset();
    wb = open({{"S", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>hay</t></is></c><c "
                     "r=\"B1\"><v>12</v></c></row>"}});
    ASSERT_TRUE(wb);
    EXPECT_FALSE(wb->sheet(1)->mayHold(QStringLiteral("needle")));
}

TEST_F(EngineCells, ArrayFormulasChangeOnlyAsAWhole)
{
    auto wb =
        open({{"S", "<row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:A2\">B1:B2*2</f><v>2</v></c></row>"
                    "<row r=\"2\"><c r=\"A2\"><v>4</v></c></row>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    EXPECT_EQ(s->formula(at("A2")), QStringLiteral("=B1:B2*2"));
    EXPECT_FALSE(s->setValue(at("A2"), QStringLiteral("1")));
    EXPECT_FALSE(s->lastError().isEmpty());
    EXPECT_FALSE(s->setValue(at("A1"), QStringLiteral("1")));
    EXPECT_TRUE(s->replace({1, 1, 2, 1}, QStringLiteral("*2"), QStringLiteral("*3")) ||
                s->formula(at("A1")) == QStringLiteral("=B1:B2*2"));
    EXPECT_TRUE(s->replace({1, 1, 2, 1}, QStringLiteral("~*2"), QStringLiteral("~*3")) ||
                s->formula(at("A1")).contains(QStringLiteral("~")));
    ASSERT_TRUE(wb->save());
    EXPECT_NE(sheetXml().find("<f t=\"array\" ref=\"A1:A2\">"), std::string::npos);
}

TEST_F(EngineCells, NewTextsGoInlineWhenThereIsNoStringTable)
{
    auto wb = open({{"S", "<row r=\"2\"><c r=\"B2\"><v>1</v></c></row>"}}, {{}, false, false});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    ASSERT_TRUE(s->setValue(at("A1"), QStringLiteral(" padded & <odd> ")));
    ASSERT_TRUE(s->setValue(at("C2"), QStringLiteral("second")));
    ASSERT_TRUE(s->setValue(at("A3"), QStringLiteral("1e400")));
    ASSERT_TRUE(wb->save());
    const std::string xml = sheetXml();
    EXPECT_NE(xml.find("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> padded &amp; "
                       "&lt;odd&gt; </t></is></c></row><row r=\"2\"><c r=\"B2\"><v>1</v></c><c r=\"C2\""),
              std::string::npos)
        << xml;
    wb->close();
    auto again = m_server.open(m_path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sheet(1)->value(at("A1")).text, QStringLiteral(" padded & <odd> "));
    // Too large for a number: kept as the text that was typed.
    EXPECT_EQ(again->sheet(1)->value(at("A3")).text, QStringLiteral("1e400"));
}

TEST_F(EngineCells, EditsKeepTheSurroundingMarkup)
{
    // Prefixed namespace, indentation, unknown elements and attributes, entities left alone.
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
    const std::string body =
        "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" mc:Ignorable=\"z\" "
        "xmlns:z=\"urn:z\">\r\n  <x:dimension ref=\"A1:B1\"/>\r\n  <x:sheetData>\r\n    <x:row r=\"1\" "
        "spans=\"1:2\" z:extra=\"1\">\r\n      <x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>a &amp; "
        "b&#10;</x:t></x:is></x:c>\r\n"
        "      <x:c r=\"B1\"><x:v>2</x:v></x:c>\r\n    </x:row>\r\n  </x:sheetData>\r\n  <z:unknown "
        "a=\"1\">keep "
        "&lt;me&gt;</z:unknown>\r\n</x:worksheet>\r\n";
    const QString p = path(QStringLiteral("prefixed.xlsx"));
    ASSERT_TRUE(writeWorkbook(p, {{"S", ""}}));
    std::map<std::string, std::string> e = readEntries(p);
    e["xl/worksheets/sheet1.xml"] = head + body;
    ASSERT_TRUE(writeZip(p, e));
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb) << m_server.lastError().toStdString();
    Sheet* s = wb->sheet(1);
    EXPECT_EQ(s->value(at("A1")).text, QStringLiteral("a & b\n"));
    ASSERT_TRUE(s->setValue(at("B1"), QStringLiteral("3")));
    ASSERT_TRUE(s->setValue(at("C1"), QStringLiteral("4")));
    ASSERT_TRUE(wb->save());
    std::string expected = head + body;
    expected.replace(expected.find("<x:v>2</x:v>"), 12, "<x:v>3</x:v>");
    expected.replace(expected.find("A1:B1"), 5, "A1:C1");
    expected.replace(expected.find("1:2"), 3, "1:3");
    const std::string afterB1 = "<x:v>3</x:v></x:c>";
    expected.insert(expected.find(afterB1) + afterB1.size(), "<x:c r=\"C1\"><x:v>4</x:v></x:c>");
    EXPECT_EQ(readEntry(p, "xl/worksheets/sheet1.xml"), expected);
}

TEST_F(EngineCells, NewCellsTakeTheRowOrColumnStyle)
{
    auto wb = open({{"S", "<row r=\"2\" s=\"3\" customFormat=\"1\"><c r=\"A2\" s=\"3\"><v>1</v></c></row>",
                     "<cols><col min=\"4\" max=\"5\" width=\"10\" style=\"2\"/></cols>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    ASSERT_TRUE(s->setValue(at("C2"), QStringLiteral("1")));
    ASSERT_TRUE(s->setValue(at("E7"), QStringLiteral("1")));
    ASSERT_TRUE(s->setValue(at("F7"), QStringLiteral("1")));
    ASSERT_TRUE(wb->save());
    const std::string xml = sheetXml();
    EXPECT_NE(xml.find("<c r=\"C2\" s=\"3\"><v>1</v>"), std::string::npos);
    EXPECT_NE(xml.find("<c r=\"E7\" s=\"2\"><v>1</v></c><c r=\"F7\"><v>1</v></c>"), std::string::npos) << xml;
}

TEST_F(EngineCells, SharedStringCountsFollowTheCells)
{
    auto wb =
        open({{"S", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>0</v></c></row>"}},
             {{"<t>same</t>", "<r><t>rich</t></r>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    ASSERT_TRUE(
        s->setValue(at("A1"), QStringLiteral("rich"))); // a plain entry is added: the rich one differs
    ASSERT_TRUE(s->setValue(at("B1"), QStringLiteral("same"))); // reuses entry 0
    ASSERT_TRUE(s->setValue(at("C1"), QStringLiteral("rich"))); // reuses the new entry
    ASSERT_TRUE(wb->save());
    const std::string sst = readEntry(m_path, "xl/sharedStrings.xml");
    EXPECT_NE(sst.find("count=\"3\" uniqueCount=\"3\""), std::string::npos) << sst;
    EXPECT_NE(sst.find("<si><t>rich</t></si></sst>"), std::string::npos) << sst;
    EXPECT_NE(
        sheetXml().find(
            "<c r=\"A1\" t=\"s\"><v>2</v></c><c r=\"B1\" t=\"s\"><v>0</v></c><c r=\"C1\" t=\"s\"><v>2</v>"),
        std::string::npos);
}

TEST_F(EngineCells, SharedStringsInEveryShapeOfTextAreReadAndEditedWhole)
{
    // Text before a CDATA section, white space around an entry's only <t>, runs.
    auto wb = open({{"S", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                          "<c r=\"C1\" t=\"s\"><v>2</v></c></row>"}},
                   {{"<t>ab<![CDATA[c&d]]></t>", "\n  <t>spaced</t>\n", "<r><t>ri</t></r><r><t>ch</t></r>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const RangeAddress all{1, 1, 1, 3};
    EXPECT_EQ(s->find(all, {QStringLiteral("abc&d"), LookIn::Values, LookAt::Whole}), at("A1"));
    EXPECT_EQ(s->find(all, {QStringLiteral("spaced"), LookIn::Values, LookAt::Whole}), at("B1"));
    EXPECT_EQ(s->find(all, {QStringLiteral("rich"), LookIn::Values, LookAt::Whole}), at("C1"));
    ASSERT_TRUE(s->replace(all, QStringLiteral("abc&d"), QStringLiteral("x<y")));
    ASSERT_TRUE(s->replace(all, QStringLiteral("spaced"), QStringLiteral("packed")));
    ASSERT_TRUE(wb->save());
    const std::string sst = readEntry(m_path, "xl/sharedStrings.xml");
    EXPECT_NE(sst.find("<si><t>x&lt;y</t></si>"), std::string::npos) << sst;
    EXPECT_EQ(sst.find("CDATA"), std::string::npos) << sst;
    EXPECT_NE(sst.find("packed"), std::string::npos) << sst;
    EXPECT_NE(sst.find("<r><t>ri</t></r><r><t>ch</t></r>"), std::string::npos) << sst;
}

TEST_F(EngineCells, SharedStringTablesKeepEveryEntryNoEditTouched)
{
    // A1 and C1 show string 0, B1 string 1 (a run and a phonetic hint). Replacing in A1:B1
    // leaves string 0 to C1 and adds the new texts before the extension list; replacing in A1:C1
    // changes string 0 itself. Entries no edit reached keep their bytes, single quotes and all.
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    for (const std::string p : {"", "x:"}) {
        for (const bool inPlace : {false, true}) {
            const std::string label = (p.empty() ? "default namespace" : "prefixed") +
                                      std::string(inPlace ? ", in place" : ", copied on write");
            const std::string si0 =
                "<" + p + "si><" + p + "t xml:space='preserve'>the needle </" + p + "t></" + p + "si>";
            const std::string si1 = "<" + p + "si><" + p + "r><" + p + "rPr><" + p + "b/></" + p + "rPr><" +
                                    p + "t>a needle</" + p + "t></" + p + "r><" + p +
                                    "rPh sb=\"0\" eb=\"1\"><" + p + "t>ニードル</" + p + "t></" + p +
                                    "rPh><" + p + "phoneticPr fontId=\"1\"/></" + p + "si>";
            const std::string ext = "<" + p + "extLst><" + p + "ext uri=\"{0}\"/></" + p + "extLst>";
            const std::string xmlns = p.empty() ? "xmlns" : "xmlns:x";
            auto wb =
                open({{"S", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                            "<c r=\"C1\" t=\"s\"><v>0</v></c></row>"}});
            ASSERT_TRUE(wb);
            wb->close();
            std::map<std::string, std::string> e = readEntries(m_path);
            e["xl/sharedStrings.xml"] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<" +
                                        p + "sst " + xmlns + "=\"" + main +
                                        "\" count=\"3\" uniqueCount=\"2\">" + si0 + "\n" + si1 + ext + "</" +
                                        p + "sst>";
            ASSERT_TRUE(writeZip(m_path, e));
            wb = WorkbookTest::open(m_path);
            ASSERT_TRUE(wb) << label;
            Sheet* s = wb->sheet(1);
            const RangeAddress row{1, 1, 1, 3};
            EXPECT_EQ(s->find(row, {QStringLiteral("a needle"), LookIn::Values, LookAt::Whole}), at("B1"))
                << label;
            EXPECT_FALSE(s->find(row, {QStringLiteral("ニードル"), LookIn::Values, LookAt::Part})) << label;
            ASSERT_TRUE(
                s->replace({1, 1, 1, inPlace ? 3 : 2}, QStringLiteral("needle"), QStringLiteral("pin")));
            ASSERT_TRUE(wb->save()) << label;
            wb->close();
            const std::string sst = readEntry(m_path, "xl/sharedStrings.xml");
            const std::string pinned =
                "<" + p + "si><" + p + "t xml:space=\"preserve\">the pin </" + p + "t></" + p + "si>";
            const std::string added = "<" + p + "si><" + p + "t>a pin</" + p + "t></" + p + "si>";
            const std::string expected =
                inPlace ? pinned + "\n" + si1 + added + ext : si0 + "\n" + si1 + pinned + added + ext;
            EXPECT_NE(sst.find(expected), std::string::npos) << label << ": " << sst;
            EXPECT_NE(sst.find(inPlace ? "count=\"3\" uniqueCount=\"3\"" : "count=\"3\" uniqueCount=\"4\""),
                      std::string::npos)
                << label << ": " << sst;
            if (m_python.isEmpty())
                continue;
            const QByteArray read =
                python({QStringLiteral("-c"),
                        QStringLiteral("import openpyxl,sys\n"
                                       "ws=openpyxl.load_workbook(sys.argv[1]).active\n"
                                       "print('|'.join(ws[c].value for c in ('A1','B1','C1')))"),
                        m_path});
            EXPECT_EQ(QString::fromUtf8(read).trimmed(), inPlace
                                                             ? QStringLiteral("the pin |a pin|the pin ")
                                                             : QStringLiteral("the pin |a pin|the needle "))
                << label;
        }
    }
}

TEST_F(EngineCells, SharedStringTablesThatAreNotWellFormedAreRefused)
{
    const std::string head = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    for (const std::string entries :
         {"<si><t>a</si></t>", "<si><t>a</t>", "<si><t a=\"1>a</t></si>", "<si><t>a</t></si></x>",
          "<si><!DOCTYPE x><t>a</t></si>", "<si><t>a</t><</si>"}) {
        auto wb = open({{"S", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"}});
        ASSERT_TRUE(wb);
        wb->close();
        std::map<std::string, std::string> e = readEntries(m_path);
        e["xl/sharedStrings.xml"] = head + entries + "</sst>";
        ASSERT_TRUE(writeZip(m_path, e));
        const QString reason = changeAndSave(m_path, [](Workbook&) { return true; });
        EXPECT_TRUE(reason.contains(QLatin1String("damaged"))) << entries << ": " << reason.toStdString();
    }
    // A table with no entries at all takes the first one.
    auto wb = open({{"S", ""}});
    ASSERT_TRUE(wb);
    wb->close();
    std::map<std::string, std::string> e = readEntries(m_path);
    e["xl/sharedStrings.xml"] = head.substr(0, head.size() - 1) + " count=\"0\" uniqueCount=\"0\"/>";
    ASSERT_TRUE(writeZip(m_path, e));
    EXPECT_EQ(
        changeAndSave(m_path,
                      [](Workbook& book) { return book.sheet(1)->setValue(at("B2"), QStringLiteral("x")); }),
        QString());
    EXPECT_NE(readEntry(m_path, "xl/sharedStrings.xml")
                  .find("count=\"1\" uniqueCount=\"1\"><si><t>x</t></si></sst>"),
              std::string::npos)
        << readEntry(m_path, "xl/sharedStrings.xml");
}

TEST_F(EngineCells, SheetDataInUnusualShapes)
{
    // Rows and cells without references, a self-closing row, a comment, a row extension, and
    // cells added before, between and after the existing ones.
    const std::string data = "<!-- kept --><row><c><v>1</v></c><c t=\"inlineStr\"><is><t>b</t></is></c></row>"
                             "<row r=\"3\"/>"
                             "<row r=\"5\" spans=\"2:2\"><c r=\"B5\"><v>5</v></c>"
                             "<extLst><ext uri=\"x\"><c r=\"Z9\"/></ext></extLst></row>";
    auto wb = open({{"S", data}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    EXPECT_EQ(s->usedRange(), (RangeAddress{1, 1, 5, 2}));
    EXPECT_EQ(s->value(at("B1")).text, QStringLiteral("b"));
    EXPECT_EQ(s->find(*s->usedRange(), {QStringLiteral("5"), LookIn::Values, LookAt::Whole}), at("B5"));
    ASSERT_TRUE(s->setValue(at("C3"), QStringLiteral("3")));
    ASSERT_TRUE(s->setValue(at("A5"), QStringLiteral("4")));
    ASSERT_TRUE(s->setValue(at("C5"), QStringLiteral("6")));
    ASSERT_TRUE(s->setValue(at("A2"), QStringLiteral("2")));
    ASSERT_TRUE(s->setValue(at("A7"), QStringLiteral("7")));
    ASSERT_TRUE(s->setValue(at("B1"), QStringLiteral("B")));
    ASSERT_TRUE(wb->save());
    const std::string xml = sheetXml();
    EXPECT_NE(xml.find("<sheetData><!-- kept --><row><c><v>1</v></c><c t=\"s\"><v>0</v></c></row>"
                       "<row r=\"2\"><c r=\"A2\"><v>2</v></c></row>"
                       "<row r=\"3\"><c r=\"C3\"><v>3</v></c></row>"
                       "<row r=\"5\" spans=\"1:3\"><c r=\"A5\"><v>4</v></c><c r=\"B5\"><v>5</v></c><c "
                       "r=\"C5\"><v>6</v></c>"
                       "<extLst><ext uri=\"x\"><c r=\"Z9\"/></ext></extLst></row>"
                       "<row r=\"7\"><c r=\"A7\"><v>7</v></c></row></sheetData>"),
              std::string::npos)
        << xml;
    wb->close();
    auto again = m_server.open(m_path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sheet(1)->usedRange(), (RangeAddress{1, 1, 7, 3}));
    EXPECT_DOUBLE_EQ(again->sheet(1)->value(at("C5")).number, 6);
}

TEST_F(EngineCells, EmptySheetDataTakesItsFirstCells)
{
    const QString p = path(QStringLiteral("bare.xlsx"));
    ASSERT_TRUE(writeWorkbook(p, {{"S", ""}}));
    std::map<std::string, std::string> e = readEntries(p);
    e["xl/worksheets/sheet1.xml"] =
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<dimension ref=\"A1\"/><sheetData/></worksheet>";
    ASSERT_TRUE(writeZip(p, e));
    auto wb = m_server.open(p);
    ASSERT_TRUE(wb);
    EXPECT_EQ(wb->sheet(1)->usedRange(), (RangeAddress{1, 1, 1, 1}));
    ASSERT_TRUE(wb->sheet(1)->setValue(at("B2"), QStringLiteral("x")));
    ASSERT_TRUE(wb->save());
    EXPECT_EQ(readEntry(p, "xl/worksheets/sheet1.xml"),
              "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><dimension "
              "ref=\"B2\"/>"
              "<sheetData><row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c></row></sheetData></worksheet>");
    EXPECT_NE(readEntry(p, "xl/sharedStrings.xml").find("<si><t>x</t></si>"), std::string::npos);
}

TEST_F(EngineCells, MalformedSheetDataIsRefused)
{
    for (const std::string data : {"<row r=\"1\"><c r=\"A1\"><v>1</v></row>", "<row r=\"0\"/>",
                                   "<row r=\"2\"><c r=\"A3\"><v>1</v></c></row>", "text<row/>"}) {
        auto wb = open({{"S", data}});
        ASSERT_TRUE(wb);
        EXPECT_FALSE(wb->sheet(1)->usedRange()) << data;
        EXPECT_TRUE(wb->sheet(1)->lastError().startsWith(QLatin1String("damaged"))) << data;
        wb->close();
    }
}

} // namespace
