#include "wildcardpattern.h"

#include <gtest/gtest.h>

using namespace corvane::automation::libreoffice;

namespace {

bool matches(const char* pattern, const char* text, bool whole)
{
    return wildcardExpression(QString::fromUtf8(pattern), whole).match(QString::fromUtf8(text)).hasMatch();
}

} // namespace

TEST(WildcardPattern, StarQuestionMarkAndTheirEscapes)
{
    EXPECT_TRUE(matches("a*b", "aXYZb", true));
    EXPECT_TRUE(matches("a*b", "ab", true));
    EXPECT_FALSE(matches("a?b", "ab", true));
    EXPECT_TRUE(matches("a?b", "a\nb", true));
    EXPECT_TRUE(matches("a~*b", "a*b", true));
    EXPECT_FALSE(matches("a~*b", "aXb", true));
    EXPECT_TRUE(matches("a~?b", "a?b", true));
    EXPECT_FALSE(matches("a~?b", "aXb", true));
    EXPECT_TRUE(matches("a~~b", "a~b", true));
    // A tilde before anything else, or at the end, is itself.
    EXPECT_TRUE(matches("a~b", "a~b", true));
    EXPECT_TRUE(matches("a~", "a~", true));
}

TEST(WildcardPattern, RegexCharactersAreLiterals)
{
    for (const char* literal : {"1+1", "(x)", "[a]", "a.b", "$5", "^up", "a|b", "{2}", "back\\slash"}) {
        EXPECT_TRUE(matches(literal, literal, true)) << literal;
    }
    EXPECT_FALSE(matches("a.b", "aXb", false));
    EXPECT_FALSE(matches("1+1", "11", false));
}

TEST(WildcardPattern, WholeOrPartIgnoringCase)
{
    EXPECT_TRUE(matches("APPLE", "an apple pie", false));
    EXPECT_FALSE(matches("APPLE", "an apple pie", true));
    EXPECT_TRUE(matches("straße", "STRASSE straße", false));
    EXPECT_TRUE(matches("ÄPFEL", "äpfel", true));
}

TEST(WildcardPattern, ReplacementIsLiteralAndCoversEveryMatch)
{
    EXPECT_EQ(replaceWildcard(QStringLiteral("Apple pie, apple tart"), QStringLiteral("APPLE"),
                              QStringLiteral("Pear")),
              QStringLiteral("Pear pie, Pear tart"));
    // "$1", "&" and backslashes mean nothing special in the replacement.
    EXPECT_EQ(replaceWildcard(QStringLiteral("a-b"), QStringLiteral("-"), QStringLiteral("$1&\\0")),
              QStringLiteral("a$1&\\0b"));
    EXPECT_EQ(replaceWildcard(QStringLiteral("order 17 done"), QStringLiteral("1?"), QStringLiteral("#")),
              QStringLiteral("order # done"));
    EXPECT_EQ(replaceWildcard(QStringLiteral("anything"), QStringLiteral("*"), QStringLiteral("x")),
              QStringLiteral("x"));
    EXPECT_EQ(replaceWildcard(QStringLiteral("cost*2"), QStringLiteral("~*"), QStringLiteral(" times ")),
              QStringLiteral("cost times 2"));
    EXPECT_EQ(replaceWildcard(QStringLiteral("same"), QString(), QStringLiteral("x")),
              QStringLiteral("same"));
}
