#include "typedinput.h"

#include <gtest/gtest.h>

using namespace corvane::automation::libreoffice;
using Kind = TypedInput::Kind;

TEST(TypedInput, NumbersInEveryWrittenForm)
{
    struct Case
    {
        const char* text;
        double value;
        bool percent;
    };
    for (const Case& c : {Case{"12", 12, false}, Case{"-3.5", -3.5, false}, Case{"+.5", 0.5, false},
                          Case{"7.", 7, false}, Case{"1e3", 1000, false}, Case{"2.5E-2", 0.025, false},
                          Case{"50%", 0.5, true}, Case{"-1.5e1%", -0.15, true}}) {
        const TypedInput in = parseTypedInput(QString::fromLatin1(c.text));
        EXPECT_EQ(in.kind, Kind::Number) << c.text;
        EXPECT_DOUBLE_EQ(in.number, c.value) << c.text;
        EXPECT_EQ(in.percent, c.percent) << c.text;
    }
}

TEST(TypedInput, WhatIsNotANumberStaysText)
{
    for (const char* text :
         {"1/2", "12 ", " 12", "1,000", "1e", "e5", "%", "12%%", "0x10", "1e999", "abc", ""}) {
        const TypedInput in = parseTypedInput(QString::fromLatin1(text));
        EXPECT_EQ(in.kind, Kind::Text) << text;
        EXPECT_EQ(in.text, QString::fromLatin1(text));
    }
}

TEST(TypedInput, FormulasBooleansAndTheApostrophe)
{
    EXPECT_EQ(parseTypedInput(QStringLiteral("=A1*2")).kind, Kind::Formula);
    EXPECT_EQ(parseTypedInput(QStringLiteral("=A1*2")).text, QStringLiteral("=A1*2"));
    const TypedInput yes = parseTypedInput(QStringLiteral("true"));
    EXPECT_EQ(yes.kind, Kind::Boolean);
    EXPECT_TRUE(yes.boolean);
    const TypedInput no = parseTypedInput(QStringLiteral("FALSE"));
    EXPECT_EQ(no.kind, Kind::Boolean);
    EXPECT_FALSE(no.boolean);
    for (const char* forced : {"'12", "'=A1", "'TRUE", "'"}) {
        const TypedInput in = parseTypedInput(QString::fromLatin1(forced));
        EXPECT_EQ(in.kind, Kind::Text) << forced;
        EXPECT_EQ(in.text, QString::fromLatin1(forced + 1));
    }
}
