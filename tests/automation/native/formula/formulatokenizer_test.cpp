#include "automation/native/formula/formulatokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane::automation::native::formula;

namespace {

std::vector<Token> tokenize(std::string_view text)
{
    std::vector<Token> tokens;
    Tokenizer tokenizer(text);
    Token t;
    while (tokenizer.next(t))
        tokens.push_back(t);
    return tokens;
}

// The texts of the reference tokens, in order.
std::vector<std::string> references(std::string_view text)
{
    std::vector<std::string> out;
    for (const Token& t : tokenize(text)) {
        if (t.kind == TokenKind::Reference)
            out.emplace_back(text.substr(t.begin, t.end - t.begin));
    }
    return out;
}

Token onlyReference(std::string_view text)
{
    const auto tokens = tokenize(text);
    Token found;
    int count = 0;
    for (const Token& t : tokens) {
        if (t.kind == TokenKind::Reference) {
            found = t;
            ++count;
        }
    }
    EXPECT_EQ(count, 1) << text;
    return found;
}

std::vector<std::string> ofKind(std::string_view text, TokenKind kind)
{
    std::vector<std::string> out;
    for (const Token& t : tokenize(text)) {
        if (t.kind == kind)
            out.emplace_back(text.substr(t.begin, t.end - t.begin));
    }
    return out;
}

using Refs = std::vector<std::string>;

} // namespace

TEST(FormulaTokenizer, TokensCoverTheTextWithoutGaps)
{
    const std::string_view samples[] = {
        "=SUM(A1:B2)*2",
        "IF('It''s'!$A$1>0,\"A1\",#N/A)",
        "Table1[[#This Row],[Col]]+[1]Sheet1!A1",
        "{1,2;3,4}",
        "'unterminated",
        "\"unterminated",
        "[unbalanced",
        "$",
        "#",
        "1E+",
        "A1:",
        "Sheet1!",
        "数据!A1+'表 2'!B2",
    };
    for (const std::string_view s : samples) {
        std::size_t pos = 0;
        for (const Token& t : tokenize(s)) {
            EXPECT_EQ(t.begin, pos) << s;
            EXPECT_GT(t.end, t.begin) << s;
            pos = t.end;
        }
        EXPECT_EQ(pos, s.size()) << s;
    }
}

TEST(FormulaTokenizer, RecognisesCellsAreasRowsAndColumns)
{
    EXPECT_EQ(references("A1+$B$2+C$3+$D4"), (Refs{"A1", "$B$2", "C$3", "$D4"}));
    EXPECT_EQ(references("SUM(A1:B2,$C$3:$D$4)"), (Refs{"A1:B2", "$C$3:$D$4"}));
    EXPECT_EQ(references("SUM(3:5)+SUM($C:$D)+SUM(A:A)+SUM($1:$1)"), (Refs{"3:5", "$C:$D", "A:A", "$1:$1"}));
    EXPECT_EQ(references("XFD1048576+A1048577+XFE1"), (Refs{"XFD1048576"}));

    const Token area = onlyReference("=$B3:C$10");
    EXPECT_EQ(area.reference.shape, ReferenceShape::Area);
    EXPECT_EQ(area.reference.first, (ReferenceEnd{3, 2, false, true}));
    EXPECT_EQ(area.reference.last, (ReferenceEnd{10, 3, true, false}));

    const Token cols = onlyReference("C:$E");
    EXPECT_EQ(cols.reference.shape, ReferenceShape::Columns);
    EXPECT_EQ(cols.reference.first.column, 3);
    EXPECT_TRUE(cols.reference.last.columnAbsolute);
    EXPECT_EQ(cols.reference.first.row, 0);
}

TEST(FormulaTokenizer, SheetPrefixes)
{
    const Token quoted = onlyReference("'It''s'!A1");
    EXPECT_EQ(quoted.reference.sheet, "It''s");
    EXPECT_TRUE(quoted.reference.quoted);
    EXPECT_EQ(quoted.reference.addressBegin, 8u);

    const Token plain = onlyReference("Sheet1!A1:B2");
    EXPECT_EQ(plain.reference.sheet, "Sheet1");
    EXPECT_EQ(plain.reference.shape, ReferenceShape::Area);

    const Token threeD = onlyReference("SUM(Sheet1:Sheet3!A1)");
    EXPECT_EQ(threeD.reference.sheet, "Sheet1");
    EXPECT_EQ(threeD.reference.lastSheet, "Sheet3");

    const Token quotedThreeD = onlyReference("SUM('Jan 1:Mar 3'!$A:$A)");
    EXPECT_EQ(quotedThreeD.reference.sheet, "Jan 1");
    EXPECT_EQ(quotedThreeD.reference.lastSheet, "Mar 3");
    EXPECT_EQ(quotedThreeD.reference.shape, ReferenceShape::Columns);

    const Token bang = onlyReference("'a!b'!C3");
    EXPECT_EQ(bang.reference.sheet, "a!b");

    const Token unicode = onlyReference("数据!B2");
    EXPECT_EQ(unicode.reference.sheet, "数据");

    const Token rows = onlyReference("'My Sheet'!3:4");
    EXPECT_EQ(rows.reference.shape, ReferenceShape::Rows);

    const Token lost = onlyReference("Sheet1!#REF!");
    EXPECT_EQ(lost.reference.shape, ReferenceShape::Lost);

    const Token repeated = onlyReference("SUM('My S'!A1:'My S'!$B$5)");
    EXPECT_EQ(repeated.reference.shape, ReferenceShape::Area);
    EXPECT_TRUE(repeated.reference.repeatedSheet);
    EXPECT_EQ(repeated.reference.last, (ReferenceEnd{5, 2, true, true}));
    EXPECT_EQ(references("Sheet1!A1:Sheet2!B5"), (Refs{"Sheet1!A1", "Sheet2!B5"}));

    const Token name = onlyReference("Sheet1!Total*2");
    EXPECT_EQ(name.reference.shape, ReferenceShape::Name);
    EXPECT_EQ(name.end, 12u);
}

TEST(FormulaTokenizer, ExternalAndLostSheetReferences)
{
    const Token ext = onlyReference("[1]Sheet1!A1+1");
    EXPECT_TRUE(ext.reference.external);
    EXPECT_EQ(ext.reference.shape, ReferenceShape::Cell);

    const Token extQuoted = onlyReference("'[2]My Data'!$B$2");
    EXPECT_TRUE(extQuoted.reference.external);

    const Token extName = onlyReference("[1]!Rate");
    EXPECT_TRUE(extName.reference.external);
    EXPECT_EQ(extName.reference.shape, ReferenceShape::Name);

    const Token lostSheet = onlyReference("#REF!A1+1");
    EXPECT_TRUE(lostSheet.reference.sheetLost);
    EXPECT_EQ(lostSheet.reference.shape, ReferenceShape::Cell);
    EXPECT_EQ(lostSheet.end, 7u);
}

TEST(FormulaTokenizer, LeavesNonReferencesAlone)
{
    // Strings, functions whose names look like cells, names, booleans, numbers with exponents.
    EXPECT_EQ(references("\"A1\"&\"Sheet1!B2\"&\"R1C1\""), Refs{});
    EXPECT_EQ(references("LOG10(100)+ATAN2(1,2)+DAY360(A1,B1)"), (Refs{"A1", "B1"}));
    EXPECT_EQ(references("A1B+MyName+TRUE+FALSE+R1C1+_xlfn.CONCAT(X1)"), Refs{"X1"});
    EXPECT_EQ(references("1E5+2.5E-3+.5+E5"), Refs{"E5"});
    EXPECT_EQ(references("Table1[Col]+Table1[[#This Row],[A1]]+[@B2]+Sales[[#Headers],[Q1]:[Q4]]"), Refs{});
    EXPECT_EQ(references("Table1[a']b]+C3"), Refs{"C3"});
    EXPECT_EQ(references("#DIV/0!+#N/A+#NAME?+#REF!+#VALUE!+#NULL!+#NUM!+#GETTING_DATA"), Refs{});
    EXPECT_EQ(references("_xlfn.LET(_xlpm.x,A1,_xlpm.x*2)"), Refs{"A1"});

    EXPECT_EQ(ofKind("LOG10(A1)+SUM(B1)", TokenKind::Function), (Refs{"LOG10", "SUM"}));
    EXPECT_EQ(ofKind("A1B+Rate", TokenKind::Name), (Refs{"A1B", "Rate"}));
    EXPECT_EQ(ofKind("1+#DIV/0!", TokenKind::Error), Refs{"#DIV/0!"});
    EXPECT_EQ(ofKind("\"say \"\"A1\"\"\"&B1", TokenKind::String), Refs{"\"say \"\"A1\"\"\""});
}

TEST(FormulaTokenizer, AreaEndThatIsACallIsNotPartOfTheArea)
{
    // A1:INDEX(...) is a range operator between a cell and a function result.
    EXPECT_EQ(references("SUM(A1:INDEX(B:B,3))"), (Refs{"A1", "B:B"}));
    EXPECT_EQ(references("SUM(A1:LOG10(5))"), Refs{"A1"});
    EXPECT_EQ(references("A1:B"), Refs{"A1"});
}

TEST(FormulaTokenizer, ParsesAddressWords)
{
    ReferenceEnd e;
    EXPECT_TRUE(parseCellWord("xfd1048576", e));
    EXPECT_EQ(e.column, 16384);
    EXPECT_FALSE(parseCellWord("A0", e));
    EXPECT_FALSE(parseCellWord("$A$", e));
    EXPECT_FALSE(parseCellWord("AAAA1", e));
    EXPECT_TRUE(parseColumnWord("$IV", e));
    EXPECT_EQ(e.column, 256);
    EXPECT_FALSE(parseRowWord("1048577", e));
}

TEST(FormulaTokenizer, ArbitraryTextIsCoveredAndSurvivesAZeroMove)
{
    // Formula-like noise: every character class the grammar knows, in random order.
    const std::string alphabet = "AZaz019$:!'\"[]#(),.;{} _\\?@%&+-*/^<>=E\xe6\x95\xb0";
    std::uint32_t seed = 12345;
    const auto nextRandom = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        const int length = static_cast<int>(nextRandom() % 24);
        for (int i = 0; i < length; ++i)
            text += alphabet[nextRandom() % alphabet.size()];
        std::size_t pos = 0;
        Tokenizer tokenizer(text);
        Token t;
        while (tokenizer.next(t)) {
            ASSERT_EQ(t.begin, pos) << text;
            ASSERT_GT(t.end, t.begin) << text;
            if (t.kind == TokenKind::Reference) {
                ASSERT_GE(t.reference.addressBegin, t.begin) << text;
                ASSERT_LE(t.reference.addressBegin, t.end) << text;
            }
            pos = t.end;
        }
        ASSERT_EQ(pos, text.size()) << text;
    }
}
