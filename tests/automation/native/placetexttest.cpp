// Replacing in texts that are not plain cell texts: header and footer codes, formatted runs,
// escaped link targets.
#include "automation/native/placetext.h"
#include "automation/native/text/searchpattern.h"

#include <gtest/gtest.h>

#include <ostream>

using namespace corvane::automation::native;

namespace {

struct HeaderCase
{
    const char* text;
    const char* find;
    const char* replacement;
    const char* expected; // null: nothing matches
};

std::ostream& operator<<(std::ostream& os, const HeaderCase& c)
{
    return os << c.text << " / " << c.find;
}

class HeaderText : public testing::TestWithParam<HeaderCase>
{
};

TEST_P(HeaderText, CodesStayAndPiecesAreSearchedAlone)
{
    const HeaderCase& c = GetParam();
    QString text = QString::fromUtf8(c.text);
    const bool hit = replaceInHeaderText(SearchPattern(QString::fromUtf8(c.find), false),
                                         QString::fromUtf8(c.replacement), text);
    EXPECT_EQ(hit, c.expected != nullptr);
    EXPECT_EQ(text, QString::fromUtf8(c.expected ? c.expected : c.text));
}

INSTANTIATE_TEST_SUITE_P(Cases, HeaderText,
                         testing::Values(
                             // A font name inside &"..." is a code; the same word as text is not.
                             HeaderCase{"&L&\"Arial,Bold\"&12Arial text&RPage &P", "arial", "Helvetica",
                                        "&L&\"Arial,Bold\"&12Helvetica text&RPage &P"},
                             // "&&" is a literal ampersand both in what is found and in what is written.
                             HeaderCase{"&CSmith && Co", "Smith & Co", "A&B", "&CA&&B"},
                             HeaderCase{"&CAcme", "acme", "R&D", "&CR&&D"},
                             // Codes split the text: no hit inside a code or across one.
                             HeaderCase{"&P of &N", "P", "x", nullptr},
                             HeaderCase{"Com&Bpany", "Company", "x", nullptr},
                             HeaderCase{"&14Big", "14", "x", nullptr},
                             HeaderCase{"&K00FF00Green", "FF", "x", nullptr},
                             HeaderCase{"&K00FF00Green", "green", "Blue", "&K00FF00Blue"},
                             // A wildcard run stops at the section's end.
                             HeaderCase{"&LDraft 1&RDraft 2", "Draft*", "X", "&LX&RX"},
                             HeaderCase{"公司名称&C第&P页", "公司", "集团", "集团名称&C第&P页"}));

TEST(RunText, FormattingStaysWithTheRunWhereAHitStarts)
{
    const SearchPattern pattern(QStringLiteral("lo wo"), false);
    std::vector<QString> runs{QStringLiteral("Hello "), QStringLiteral("World"), QStringLiteral("!")};
    ASSERT_TRUE(replaceInRuns(pattern, QStringLiteral("X"), runs));
    EXPECT_EQ(runs,
              (std::vector<QString>{QStringLiteral("HelX"), QStringLiteral("rld"), QStringLiteral("!")}));

    runs = {QStringLiteral("ab"), QStringLiteral("cd"), QStringLiteral("ab")};
    ASSERT_TRUE(replaceInRuns(SearchPattern(QStringLiteral("B"), false), QStringLiteral("<&>"), runs));
    EXPECT_EQ(runs,
              (std::vector<QString>{QStringLiteral("a<&>"), QStringLiteral("cd"), QStringLiteral("a<&>")}));

    runs = {QStringLiteral("ab"), QStringLiteral("cd")};
    EXPECT_FALSE(replaceInRuns(SearchPattern(QStringLiteral("bd"), false), QStringLiteral("x"), runs));
    EXPECT_EQ(runs, (std::vector<QString>{QStringLiteral("ab"), QStringLiteral("cd")}));
}

TEST(LinkTarget, EscapedTargetsAreSearchedAsTheyRead)
{
    struct Case
    {
        const char* target;
        const char* find;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"/Documents%20and%20Settings/User%20Project/a.xls", "user project", "New Place",
         "/Documents%20and%20Settings/New%20Place/a.xls"},
        {"http://www.perl.org/", "perl.org", "example.org", "http://www.example.org/"},
        {"file%20%E6%95%B0.xls", "数", "100%", "file%20100%25.xls"},
        {"//server/share/报表.xlsx", "server", "nas", "//nas/share/报表.xlsx"},
    };
    for (const Case& c : cases) {
        QString target = QString::fromUtf8(c.target);
        EXPECT_TRUE(replaceInLinkTarget(SearchPattern(QString::fromUtf8(c.find), false),
                                        QString::fromUtf8(c.replacement), target))
            << c.target;
        EXPECT_EQ(target, QString::fromUtf8(c.expected));
    }
    QString target = QStringLiteral("a%20b");
    EXPECT_FALSE(
        replaceInLinkTarget(SearchPattern(QStringLiteral("%20"), false), QStringLiteral("x"), target));
}

} // namespace
