// Formula texts against the tokens the application writes for them (hand-checked byte by byte),
// and token sequences the application may write that read back to one text.
#include "automation/native/biff/formulatokens.h"

#include <gtest/gtest.h>

using namespace corvane::automation::native::biff;

namespace {

// Sheet1, 'Sheet 2', Sheet3; EXTERNSHEET 0 = Sheet1, 1 = 'Sheet 2', 2 = Sheet1:Sheet3, 3 = a
// deleted sheet; names Total and the newer function _xlfn.IFERROR. The formula sits in C5.
class TestContext : public FormulaContext
{
public:
    std::optional<ExternSheet> externSheet(int ixti) const override
    {
        switch (ixti) {
        case 0:
            return ExternSheet{{}, QStringLiteral("Sheet1"), QStringLiteral("Sheet1"), false};
        case 1:
            return ExternSheet{{}, QStringLiteral("Sheet 2"), QStringLiteral("Sheet 2"), false};
        case 2:
            return ExternSheet{{}, QStringLiteral("Sheet1"), QStringLiteral("Sheet3"), false};
        case 3:
            return ExternSheet{{}, {}, {}, true};
        default:
            return std::nullopt;
        }
    }
    std::optional<QString> definedName(int index) const override
    {
        if (index == 1)
            return QStringLiteral("Total");
        if (index == 2)
            return QStringLiteral("_xlfn.IFERROR");
        return std::nullopt;
    }
    std::optional<QString> externName(int, int) const override { return std::nullopt; }
    int row() const override { return 4; }
    int column() const override { return 2; }
    std::optional<int> externSheetIndex(const QString& first, const QString& last) const override
    {
        for (int i = 0; i < 3; ++i) {
            const ExternSheet e = *externSheet(i);
            if (e.firstSheet.compare(first, Qt::CaseInsensitive) == 0 &&
                e.lastSheet.compare(last, Qt::CaseInsensitive) == 0)
                return i;
        }
        return std::nullopt;
    }
    std::optional<int> nameIndex(const QString& name, const QString& sheet) const override
    {
        for (int i = 1; sheet.isEmpty() && i <= 2; ++i) {
            if (definedName(i)->compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
        return std::nullopt;
    }
    std::optional<int> deletedSheetIndex() const override { return 3; }
};

struct Case
{
    const char* text;
    const char* hex; // the tokens, spaces between tokens only for reading
};

QByteArray bytes(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

class Compiled : public testing::TestWithParam<Case>
{
};

TEST_P(Compiled, TextGivesTheApplicationsTokensAndReadsBack)
{
    const TestContext context;
    QString reason;
    const std::optional<QByteArray> tokens =
        compileFormula(QString::fromUtf8(GetParam().text), context, &reason);
    ASSERT_TRUE(tokens) << reason.toStdString();
    EXPECT_EQ(tokens->toHex(' ').toStdString(), bytes(GetParam().hex).toHex(' ').toStdString());
    QString error;
    EXPECT_EQ(decompileFormula(*tokens, context, &error).toStdString(), GetParam().text)
        << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, Compiled,
    testing::Values(
        // Precedence needs no parentheses; typed ones are kept as ptgParen.
        Case{"1+2*3", "1e0100 1e0200 1e0300 05 03"}, Case{"(1+2)*3", "1e0100 1e0200 03 15 1e0300 05"},
        Case{"-A1^2", "44 0000 00c0 13 1e0200 07"}, Case{"2^-1", "1e0200 1e0100 13 07"},
        Case{"A1&\"x\"\"y\"", "44 0000 00c0 17 03 00 782279 08"},
        Case{"B2<=50%", "44 0100 01c0 1e3200 14 0a"}, Case{"A1<>TRUE", "44 0000 00c0 1d01 0e"},
        // Numbers: integers that fit in ptgInt, anything else as a double.
        Case{"1.5+70000", "1f 000000000000f83f 1f 000000000017f140 03"},
        // One-argument SUM is tAttrSum; argument classes come from the function table.
        Case{"SUM(A1:B2)", "25 0000 0100 00c0 01c0 1910 0000"},
        Case{"VLOOKUP(A1,$C$1:$D$9,2,FALSE)", "44 0000 00c0 25 0000 0800 0200 0300 1e0200 1d00 42 04 6600"},
        Case{"ROUND(A1,2)", "44 0000 00c0 1e0200 41 1b00"},
        // IF and CHOOSE jump over the branches not taken; spaces go before the last jump.
        Case{"IF(A1>0,B1,C1)",
             "44 0000 00c0 1e0000 0d 1902 0900 24 0000 01c0 1908 0c00 24 0000 02c0 1908 0300 42 03 0100"},
        // IF returns a reference where one is asked for; value functions stay values there.
        Case{"SUM(IF(A1,B1,C1),ROUND(D1,0))",
             "44 0000 00c0 1902 0900 24 0000 01c0 1908 0c00 24 0000 02c0 1908 0300 22 03 0100 "
             "44 0000 03c0 1e0000 41 1b00 42 02 0400"},
        Case{" IF(A1,1)", "44 0000 00c0 1902 0b00 1e0100 194000 01 1908 0300 42 02 0100"},
        Case{"CHOOSE(1,2,3)", "1e0100 1904 0200 0600 0d00 1400 1e0200 1908 0a00 1e0300 1908 0300 42 03 6400"},
        // Sheets, 3-D ranges, deleted sheets, whole columns, unions.
        Case{"Sheet1!A1+'Sheet 2'!$B$3", "5a 0000 0000 00c0 5a 0100 0200 0100 03"},
        Case{"SUM(Sheet1:Sheet3!A1)", "3a 0200 0000 00c0 1910 0000"},
        Case{"#REF!A1*2", "5a 0300 0000 00c0 1e0200 05"},
        Case{"COUNT(A:A)", "25 0000 ffff 00c0 00c0 42 01 0000"},
        Case{"SUM((A1,B1))", "24 0000 00c0 24 0000 01c0 10 15 1910 0000"},
        Case{"SUM(A:A A1:B2)", "25 0000 ffff 00c0 00c0 25 0000 0100 00c0 01c0 0f 1910 0000"},
        // Names, and a newer function called through its name.
        Case{"Total*2", "43 0100 0000 1e0200 05"},
        Case{"IFERROR(A1,0)", "23 0200 0000 24 0000 00c0 1e0000 42 03 ff00"},
        // Volatile functions mark the formula; spaces are kept where the application keeps them.
        Case{"NOW()", "1901 0000 41 4a00"}, Case{"1 + 2", "1e0100 194000 01 1e0200 194000 01 03"},
        Case{"MAX( A1,B1 )", "194000 01 24 0000 00c0 24 0000 01c0 194004 01 42 02 0700"}));

// Token sequences another writer may produce: parentheses that the tree needs although no
// ptgParen was stored, relative references of shared formulas (the cell is C5), arrays.
struct Reading
{
    const char* hex;
    const char* text;
    int tokenSize = -1;
};

class Decompiled : public testing::TestWithParam<Reading>
{
};

TEST_P(Decompiled, TokensReadAsTheApplicationShowsThem)
{
    const QByteArray rgce = bytes(GetParam().hex);
    QString error;
    EXPECT_EQ(decompileFormula(rgce, TestContext(), &error, GetParam().tokenSize).toStdString(),
              GetParam().text)
        << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, Decompiled,
    testing::Values(
        Reading{"1e0100 1e0200 1e0300 04 04", "1-(2-3)"}, Reading{"1e0100 1e0200 03 1e0300 05", "(1+2)*3"},
        Reading{"1e0200 1e0300 03 13", "-(2+3)"},
        Reading{"4c ffff 01c0", "D4"},   // RefN: one row up, one column right of C5
        Reading{"4c 0300 0200", "$C$4"}, // absolute parts stay
        Reading{"2d fcff 0000 fec0 00c0", "A1:C5"},
        Reading{"60 00000000000000 0101 00 01 000000000000f03f 02 0200 00 6162 10 2a 00000000000000 "
                "04 01 00000000000000",
                "{1,\"ab\";#N/A,TRUE}", 8},
        Reading{"1901 0000 29 0500 24 0000 00c0 1910 0000", "SUM(A1)"},
        Reading{"23 0200 0000 24 0000 00c0 1e0000 42 03 ff00", "IFERROR(A1,0)"},
        Reading{"1f 000000000000f03f 1f 00000000000020c0 03 1f 8dedb5a0f7c6b03e 03 1f 000000a2941a6d42 03",
                "1+-8+1E-06+1000000000000"},
        // Two-byte characters start at odd offsets, in a ptgStr and in an array constant.
        Reading{"17 02 01 2d4e 8765", "\"中文\""},
        Reading{"60 00000000000000 00 0000 02 0100 01 2d4e", "{\"中\"}", 8}));

TEST(FormulaTokens, ArrayConstantsCarryTheirValuesBehindTheTokens)
{
    const TestContext context;
    QString reason;
    int tokenSize = 0;
    const QString text = QStringLiteral("SUM({1,-2.5;\"ab\",TRUE},{#N/A})");
    const std::optional<QByteArray> tokens = compileFormula(text, context, &reason, &tokenSize);
    ASSERT_TRUE(tokens) << reason.toStdString();
    EXPECT_EQ(tokens->toHex(' ').toStdString(),
              bytes("60 00000000000000 60 00000000000000 42 02 0400 "
                    "01 0100 01 000000000000f03f 01 00000000000004c0 02 0200 00 6162 04 01 00000000000000 "
                    "00 0000 10 2a 00000000000000")
                  .toHex(' ')
                  .toStdString());
    EXPECT_EQ(tokenSize, 20);
    QString error;
    EXPECT_EQ(decompileFormula(*tokens, context, &error, tokenSize), text) << error.toStdString();
}

TEST(FormulaTokens, WindowsLineBreaksOutsideTextsBecomeOneLineBreak)
{
    const TestContext context;
    QString reason;
    const std::optional<QByteArray> tokens =
        compileFormula(QStringLiteral("1+\r\n2&\"a\r\nb\""), context, &reason);
    ASSERT_TRUE(tokens) << reason.toStdString();
    QString error;
    EXPECT_EQ(decompileFormula(*tokens, context, &error), QStringLiteral("1+\n2&\"a\r\nb\""));
}

TEST(FormulaTokens, DamagedTokensAreReportedNotRead)
{
    const char* const damaged[] = {
        "44 0000",           // cut inside a reference
        "03",                // operator without operands
        "1e0100 1e0200",     // two operands, no operator
        "21 ff01",           // unknown function
        "17 05 00 6162",     // string longer than the tokens
        "60 00000000000000", // array without its constants
        "22 05 0400 1e0100", // SUM of five with one operand
        "3a 0900 0000 00c0", // EXTERNSHEET index that does not exist
        "01 0400 0200",      // ptgExp: the caller reads the shared formula
        "1904 ffff 1e0100",  // CHOOSE table longer than the tokens
    };
    for (const char* hex : damaged) {
        QString error;
        EXPECT_TRUE(decompileFormula(bytes(hex), TestContext(), &error).isNull()) << hex;
        EXPECT_FALSE(error.isEmpty()) << hex;
    }
    const std::optional<FormulaAnchor> anchor = formulaAnchor(bytes("01 0400 0200"));
    ASSERT_TRUE(anchor);
    EXPECT_EQ(anchor->row, 4);
    EXPECT_EQ(anchor->column, 2);
}

TEST(FormulaTokens, TextOutsideTheSubsetIsRefusedWithItsReason)
{
    const struct
    {
        QString text;
        const char* reason;
    } refused[] = {
        {QStringLiteral("Table1[Col]"), "not supported in .xls formulas: table references"},
        {QStringLiteral("SUM({1,2})"), "not supported in .xls formulas: array constants"},
        {QStringLiteral("[Book.xls]Sheet1!A1"),
         "not supported in .xls formulas: references to other workbooks"},
        {QStringLiteral("A65537"),
         "not supported in .xls formulas: reference beyond row 65536 or column IV: A65537"},
        {QStringLiteral("IW1"),
         "not supported in .xls formulas: reference beyond row 65536 or column IV: IW1"},
        {QStringLiteral("XLOOKUP(1,A:A,B:B)"), "not supported in .xls formulas: function XLOOKUP"},
        {QLatin1Char('"') + QString(256, QLatin1Char('x')) + QLatin1Char('"'),
         "not supported in .xls formulas: text longer than 255 characters"},
        {QStringLiteral("Nowhere!A1"), "no such sheet: Nowhere"},
        {QStringLiteral("Missing+1"), "unknown name: Missing"},
        {QStringLiteral("ROUND(1)"), "wrong number of arguments for ROUND"},
        {QStringLiteral("1+"), "formula ends too early"},
        {QStringLiteral("SUM(1"), "missing \")\" after the arguments of SUM"},
        {QStringLiteral("1)"), "unexpected \")\""},
        {QStringLiteral(""), "empty formula"},
        {QStringLiteral("TRUE:A1"), "a range needs references on both sides"},
        {QStringLiteral("\"a\"&\"") + QChar(0xD800) + QStringLiteral("\""), "text with broken characters"},
        {QStringLiteral("\"ab\"\"&1"), "text without its closing quote"},
        {QString(100000, QLatin1Char('(')) + QLatin1Char('1'), "formula nested too deeply"},
        {QString(100000, QLatin1Char('-')) + QLatin1Char('1'), "formula nested too deeply"},
        {QStringLiteral("1") + QStringLiteral("+1").repeated(3000),
         "not supported in .xls formulas: formula too long"},
    };
    for (const auto& r : refused) {
        QString reason;
        EXPECT_FALSE(compileFormula(r.text, TestContext(), &reason)) << r.text.toStdString();
        EXPECT_EQ(reason.toStdString(), r.reason) << r.text.toStdString();
    }
}

} // namespace
