// Interface behaviour every spreadsheet server must show, run against each backend that is built.
#include "workbookfixture.h"

#include "automation/automationserver.h"
#include "automation/native/nativeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace corvane::automation;
using corvane::testing::FixtureOptions;
using corvane::testing::FixtureSheet;

namespace {

struct Backend
{
    const char* name;
    std::function<std::unique_ptr<AutomationServer>()> make;
};

std::ostream& operator<<(std::ostream& os, const Backend& b)
{
    return os << b.name;
}

CellAddress at(const char* name)
{
    const auto r = parseRangeAddress(QString::fromLatin1(name));
    return r ? r->topLeft() : CellAddress{};
}

RangeAddress area(const char* name)
{
    return *parseRangeAddress(QString::fromLatin1(name));
}

class ServerContract : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_server = GetParam().make();
        ASSERT_TRUE(m_server && m_server->isAvailable())
            << (m_server ? m_server->lastError().toStdString() : "");
    }

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    std::unique_ptr<Workbook> build(const std::vector<FixtureSheet>& sheets,
                                    const FixtureOptions& options = {})
    {
        const QString p = path("book.xlsx");
        EXPECT_TRUE(corvane::testing::writeWorkbook(p, sheets, options));
        auto wb = m_server->open(p);
        EXPECT_TRUE(wb) << m_server->lastError().toStdString();
        return wb;
    }

    // A sheet with texts in a grid; matches of "x" in B1, D2, A3 and C3 (read by rows).
    std::unique_ptr<Workbook> searchBook()
    {
        return build(
            {{"Data", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c></row>"
                      "<row r=\"2\"><c r=\"B2\"><v>7</v></c><c r=\"D2\" t=\"s\"><v>2</v></c></row>"
                      "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>1</v></c><c r=\"C3\" "
                      "t=\"inlineStr\"><is><t>aXb</t></is></c></row>"}},
            {{"<t>none</t>", "<t>x</t>", "<t>xx</t>"}});
    }

    QTemporaryDir m_dir;
    std::unique_ptr<AutomationServer> m_server;
};

TEST_P(ServerContract, RefusesWhatIsNoWorkbookAndLeavesItAlone)
{
    const QString text = path("notes.xlsx");
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("just some text, not a workbook\n");
    }
    const QString empty = path("empty.xlsx");
    {
        QFile f(empty);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    for (const QString& p : {text, empty, path("missing.xlsx")}) {
        const QByteArray before = corvane::testing::fileBytes(p);
        EXPECT_EQ(m_server->open(p), nullptr) << p.toStdString();
        EXPECT_FALSE(m_server->lastError().isEmpty());
        EXPECT_EQ(corvane::testing::fileBytes(p), before);
    }
}

TEST_P(ServerContract, SheetsByOneBasedIndex)
{
    auto wb = build({{"First", ""}, {"Second", "<row r=\"2\"><c r=\"B2\"><v>1</v></c></row>"}});
    ASSERT_TRUE(wb);
    EXPECT_EQ(wb->sheetCount(), 2);
    EXPECT_EQ(wb->sheet(0), nullptr);
    EXPECT_EQ(wb->sheet(3), nullptr);
    ASSERT_NE(wb->sheet(2), nullptr);
    EXPECT_EQ(wb->sheet(1)->name(), QStringLiteral("First"));
    EXPECT_EQ(wb->sheet(2)->name(), QStringLiteral("Second"));
}

TEST_P(ServerContract, UsedRangeIsTheBoundingBoxOfPresentCells)
{
    auto wb = build({{"Empty", ""},
                     {"Data", "<row r=\"2\"><c r=\"C2\"><v>1</v></c></row>"
                              "<row r=\"5\"><c r=\"B5\" s=\"0\"/><c r=\"E5\"><v>2</v></c></row>"}});
    ASSERT_TRUE(wb);
    EXPECT_EQ(wb->sheet(1)->usedRange(), area("A1"));
    EXPECT_EQ(wb->sheet(2)->usedRange(), area("B2:E5"));
}

TEST_P(ServerContract, RangeAcceptsWhatUsersType)
{
    auto wb = build({{"S", ""}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    EXPECT_EQ(s->range(QStringLiteral("A1")), area("A1"));
    EXPECT_EQ(s->range(QStringLiteral("$B$3")), area("B3"));
    EXPECT_EQ(s->range(QStringLiteral("b2:d10")), area("B2:D10"));
    EXPECT_EQ(s->range(QStringLiteral("3:3")), (RangeAddress{3, 1, 3, kMaxColumns}));
    EXPECT_EQ(s->range(QStringLiteral("C:C")), (RangeAddress{1, 3, kMaxRows, 3}));
    for (const char* bad : {"", "A0", "XFE1", "A1048577", "A1:B", "hello", "A1,B2"})
        EXPECT_FALSE(s->range(QString::fromLatin1(bad))) << bad;
    EXPECT_TRUE(s->cell(kMaxRows, kMaxColumns));
    EXPECT_FALSE(s->cell(kMaxRows + 1, 1));
    EXPECT_FALSE(s->cell(1, kMaxColumns + 1));
    EXPECT_FALSE(s->cell(0, 1));
}

TEST_P(ServerContract, FindSearchesByRowsAfterTheStartAndComesRound)
{
    auto wb = searchBook();
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const RangeAddress all = area("A1:D3");
    const FindQuery q{QStringLiteral("x"), LookIn::Values, LookAt::Part};
    // The top-left cell is looked at last, so the first match is B1.
    EXPECT_EQ(s->find(all, q), at("B1"));
    EXPECT_EQ(s->find(all, q, at("B1")), at("D2"));
    EXPECT_EQ(s->find(all, q, at("D2")), at("A3"));
    EXPECT_EQ(s->find(all, q, at("A3")), at("C3"));
    EXPECT_EQ(s->find(all, q, at("C3")), at("B1"));
    // Starting on a cell between matches.
    EXPECT_EQ(s->find(all, q, at("C1")), at("D2"));
    // Only inside the range.
    EXPECT_EQ(s->find(area("A2:D3"), q), at("D2"));
    EXPECT_EQ(s->find(area("C1:D2"), q, at("D2")), at("D2"));
}

TEST_P(ServerContract, FindLooksAtTheStartCellLast)
{
    auto wb = build({{"S", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c>"
                           "<c r=\"B1\" t=\"inlineStr\"><is><t>x</t></is></c></row>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const FindQuery q{QStringLiteral("x"), LookIn::Values, LookAt::Part};
    EXPECT_EQ(s->find(area("A1:B1"), q), at("B1"));
    EXPECT_EQ(s->find(area("A1:B1"), q, at("B1")), at("A1"));
    // A single match is found again when the search starts on it.
    EXPECT_EQ(s->find(area("A1:A1"), q, at("A1")), at("A1"));
}

TEST_P(ServerContract, FindWholeOrPartIgnoringCase)
{
    auto wb = searchBook();
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const RangeAddress all = area("A1:D3");
    EXPECT_EQ(s->find(all, {QStringLiteral("X"), LookIn::Values, LookAt::Whole}), at("B1"));
    EXPECT_EQ(s->find(all, {QStringLiteral("XX"), LookIn::Values, LookAt::Whole}), at("D2"));
    EXPECT_EQ(s->find(all, {QStringLiteral("axb"), LookIn::Values, LookAt::Whole}), at("C3"));
    EXPECT_FALSE(s->find(all, {QStringLiteral("ax"), LookIn::Values, LookAt::Whole}));
    EXPECT_EQ(s->find(all, {QStringLiteral("ax"), LookIn::Values, LookAt::Part}), at("C3"));
    EXPECT_EQ(s->find(all, {QStringLiteral("7"), LookIn::Values, LookAt::Whole}), at("B2"));
    EXPECT_FALSE(s->find(all, {QString(), LookIn::Values, LookAt::Part}));
}

TEST_P(ServerContract, FindWildcardsAndEscapes)
{
    auto wb = build({{"S", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>plain</t></is></c>"
                           "<c r=\"B1\" t=\"inlineStr\"><is><t>a*b</t></is></c>"
                           "<c r=\"C1\" t=\"inlineStr\"><is><t>a?b</t></is></c>"
                           "<c r=\"D1\" t=\"inlineStr\"><is><t>a~b</t></is></c>"
                           "<c r=\"E1\" t=\"inlineStr\"><is><t>aXXb</t></is></c></row>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const RangeAddress all = area("A1:E1");
    const auto whole = [](const char* w) {
        return FindQuery{QString::fromLatin1(w), LookIn::Values, LookAt::Whole};
    };
    EXPECT_EQ(s->find(all, whole("a*b")), at("B1"));
    EXPECT_EQ(s->find(all, whole("a*b"), at("D1")), at("E1"));
    EXPECT_EQ(s->find(all, whole("a?b"), at("A1")), at("B1"));
    EXPECT_EQ(s->find(all, whole("a??b")), at("E1"));
    EXPECT_EQ(s->find(all, whole("a~*b")), at("B1"));
    EXPECT_EQ(s->find(all, whole("a~*b"), at("B1")), at("B1"));
    EXPECT_EQ(s->find(all, whole("a~?b")), at("C1"));
    EXPECT_EQ(s->find(all, whole("a~~b")), at("D1"));
    EXPECT_EQ(s->find(all, whole("p*")), at("A1"));
    EXPECT_EQ(s->find(all, {QStringLiteral("L?I"), LookIn::Values, LookAt::Part}), at("A1"));
}

TEST_P(ServerContract, FindInValuesOrFormulas)
{
    auto wb = build({{"S", "<row r=\"1\"><c r=\"A1\"><v>0.5</v></c><c r=\"B1\"><f>A1*4</f><v>2</v></c>"
                           "<c r=\"C1\" t=\"b\"><v>1</v></c><c r=\"D1\" t=\"e\"><v>#N/A</v></c></row>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const RangeAddress all = area("A1:D1");
    EXPECT_EQ(s->find(all, {QStringLiteral("2"), LookIn::Values, LookAt::Whole}), at("B1"));
    EXPECT_FALSE(s->find(all, {QStringLiteral("2"), LookIn::Formulas, LookAt::Whole}));
    EXPECT_EQ(s->find(all, {QStringLiteral("=A1*4"), LookIn::Formulas, LookAt::Whole}), at("B1"));
    EXPECT_EQ(s->find(all, {QStringLiteral("a1"), LookIn::Formulas, LookAt::Part}), at("B1"));
    EXPECT_FALSE(s->find(all, {QStringLiteral("a1"), LookIn::Values, LookAt::Part}));
    EXPECT_EQ(s->find(all, {QStringLiteral("0.5"), LookIn::Formulas, LookAt::Whole}), at("A1"));
    EXPECT_EQ(s->find(all, {QStringLiteral("true"), LookIn::Values, LookAt::Whole}), at("C1"));
    EXPECT_EQ(s->find(all, {QStringLiteral("#N/A"), LookIn::Values, LookAt::Whole}), at("D1"));
}

TEST_P(ServerContract, FindSeesSharedFormulaMembersAndRichText)
{
    auto wb = build(
        {{"S", "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" "
               "si=\"0\">A1*2</f><v>2</v></c></row>"
               "<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\"><f t=\"shared\" si=\"0\"/><v>4</v></c></row>"
               "<row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>6</v></c>"
               "<c r=\"C3\" t=\"s\"><v>0</v></c></row>"}},
        {{"<r><t>Bold</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\"> face</t></r>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const RangeAddress all = area("A1:C3");
    EXPECT_EQ(s->formula(at("B3")), QStringLiteral("=A3*2"));
    EXPECT_EQ(s->find(all, {QStringLiteral("=A2*2"), LookIn::Formulas, LookAt::Whole}), at("B2"));
    EXPECT_EQ(s->value(at("C3")).text, QStringLiteral("Bold face"));
    EXPECT_EQ(s->find(all, {QStringLiteral("d f"), LookIn::Values, LookAt::Part}), at("C3"));
}

TEST_P(ServerContract, ReplaceChangesConstantsAndFormulaText)
{
    auto wb =
        build({{"S", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Apple pie, apple tart</t></is></c>"
                     "<c r=\"B1\"><v>12.5</v></c><c r=\"C1\"><f>SUM(A2:A3)</f><v>0</v></c>"
                     "<c r=\"D1\" t=\"inlineStr\"><is><t>untouched</t></is></c></row>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const RangeAddress all = area("A1:D1");
    EXPECT_TRUE(s->replace(all, QStringLiteral("APPLE"), QStringLiteral("Pear")));
    EXPECT_EQ(s->value(at("A1")).text, QStringLiteral("Pear pie, Pear tart"));
    // The number's text is edited and entered again as a number.
    EXPECT_TRUE(s->replace(all, QStringLiteral("2.5"), QStringLiteral("3")));
    EXPECT_EQ(s->value(at("B1")).kind, CellValue::Kind::Number);
    EXPECT_DOUBLE_EQ(s->value(at("B1")).number, 13);
    EXPECT_TRUE(s->replace(all, QStringLiteral("sum"), QStringLiteral("MAX")));
    EXPECT_EQ(s->formula(at("C1")), QStringLiteral("=MAX(A2:A3)"));
    EXPECT_EQ(s->value(at("D1")).text, QStringLiteral("untouched"));
    EXPECT_FALSE(s->replace(all, QStringLiteral("nowhere"), QStringLiteral("x")));
    EXPECT_FALSE(s->replace(all, QString(), QStringLiteral("x")));
}

TEST_P(ServerContract, ReplaceWithWildcardsAndBrokenFormulas)
{
    auto wb = build({{"S", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>order 17 done</t></is></c>"
                           "<c r=\"B1\"><f>ROUND(A2,2)</f><v>0</v></c>"
                           "<c r=\"C1\" t=\"inlineStr\"><is><t>cost*2</t></is></c></row>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    const RangeAddress all = area("A1:C1");
    EXPECT_TRUE(s->replace(all, QStringLiteral("1?"), QStringLiteral("#")));
    EXPECT_EQ(s->value(at("A1")).text, QStringLiteral("order # done"));
    // Dropping a parenthesis would break the formula: that cell keeps its formula.
    EXPECT_FALSE(s->replace(area("B1"), QStringLiteral("("), QString()));
    EXPECT_EQ(s->formula(at("B1")), QStringLiteral("=ROUND(A2,2)"));
    EXPECT_TRUE(s->replace(all, QStringLiteral("~*"), QStringLiteral(" times ")));
    EXPECT_EQ(s->value(at("C1")).text, QStringLiteral("cost times 2"));
}

TEST_P(ServerContract, WritingBehavesLikeTyping)
{
    auto wb = build({{"S", "<row r=\"1\"><c r=\"A1\"><v>5</v></c></row>"}});
    ASSERT_TRUE(wb);
    Sheet* s = wb->sheet(1);
    ASSERT_TRUE(s->setValue(at("B2"), QStringLiteral("12")));
    EXPECT_EQ(s->value(at("B2")).kind, CellValue::Kind::Number);
    ASSERT_TRUE(s->setValue(at("B3"), QStringLiteral("50%")));
    EXPECT_DOUBLE_EQ(s->value(at("B3")).number, 0.5);
    ASSERT_TRUE(s->setValue(at("B4"), QStringLiteral("true")));
    EXPECT_EQ(s->value(at("B4")).kind, CellValue::Kind::Boolean);
    EXPECT_TRUE(s->value(at("B4")).boolean);
    ASSERT_TRUE(s->setValue(at("B5"), QStringLiteral("'12")));
    EXPECT_EQ(s->value(at("B5")).kind, CellValue::Kind::Text);
    EXPECT_EQ(s->value(at("B5")).text, QStringLiteral("12"));
    ASSERT_TRUE(s->setValue(at("B6"), QStringLiteral("=A1*2")));
    EXPECT_EQ(s->formula(at("B6")), QStringLiteral("=A1*2"));
    ASSERT_TRUE(s->setFormula(at("B7"), QStringLiteral("plain text")));
    EXPECT_EQ(s->value(at("B7")).text, QStringLiteral("plain text"));
    EXPECT_EQ(s->formula(at("B7")), QStringLiteral("plain text"));
    ASSERT_TRUE(s->setValue(at("A1"), QString()));
    EXPECT_EQ(s->value(at("A1")).kind, CellValue::Kind::Empty);
    EXPECT_EQ(s->formula(at("A1")), QString());
    EXPECT_FALSE(s->setFormula(at("B8"), QStringLiteral("=SUM(")));
    EXPECT_EQ(s->value(at("B8")).kind, CellValue::Kind::Empty);
    EXPECT_EQ(s->usedRange(), area("A1:B7"));
}

TEST_P(ServerContract, SavedChangesSurviveReopening)
{
    auto wb = build({{"S", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>"}}, {{"<t>old</t>"}});
    ASSERT_TRUE(wb);
    ASSERT_TRUE(wb->sheet(1)->setValue(at("A1"), QStringLiteral("new text")));
    ASSERT_TRUE(wb->sheet(1)->setValue(at("C4"), QStringLiteral("=A1&\"!\"")));
    ASSERT_TRUE(wb->save()) << wb->lastError().toStdString();
    wb->close();
    auto again = m_server->open(path("book.xlsx"));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sheet(1)->value(at("A1")).text, QStringLiteral("new text"));
    EXPECT_EQ(again->sheet(1)->formula(at("C4")), QStringLiteral("=A1&\"!\""));
}

TEST_P(ServerContract, SavingWithoutChangeLeavesTheFileAlone)
{
    auto wb = searchBook();
    ASSERT_TRUE(wb);
    const QByteArray before = corvane::testing::fileBytes(path("book.xlsx"));
    for (int i = 1; i <= wb->sheetCount(); ++i)
        wb->sheet(i)->find(*wb->sheet(i)->usedRange(), {QStringLiteral("x"), LookIn::Values, LookAt::Part});
    EXPECT_TRUE(wb->save());
    wb->close();
    EXPECT_EQ(corvane::testing::fileBytes(path("book.xlsx")), before);
}

INSTANTIATE_TEST_SUITE_P(
    Native, ServerContract,
    ::testing::Values(Backend{"native",
                              [] { return std::make_unique<corvane::automation::native::NativeServer>(); }}),
    [](const ::testing::TestParamInfo<Backend>& p) { return std::string(p.param.name); });

} // namespace
