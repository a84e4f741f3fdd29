// Number format codes applied to values, against texts taken elsewhere: the rows marked LO are
// what LibreOffice 7.4 (zh-CN locale) shows for the same code and value in an .xlsx cell; the
// others come from the application's documentation.
#include "automation/native/text/numberformat.h"

#include <gtest/gtest.h>

using corvane::automation::native::NumberFormat;

namespace {

struct Row
{
    const char* code;
    double value;
    bool date1904;
    const char* expected;
};

void PrintTo(const Row& r, std::ostream* os)
{
    *os << r.code << " with " << r.value;
}

class NumberFormatTable : public ::testing::TestWithParam<Row>
{
};

TEST_P(NumberFormatTable, ShowsTheValueAsTheApplicationDoes)
{
    const Row& r = GetParam();
    EXPECT_EQ(NumberFormat(QString::fromUtf8(r.code)).format(r.value, r.date1904).toStdString(),
              std::string(r.expected));
}

const Row kRows[] = {

    {"0.00;(0.00);\"zero\"", 5, false, "5.00"},
    {"0.00;(0.00);\"zero\"", -5, false, "(5.00)"},
    {"0.00;(0.00);\"zero\"", 0, false, "zero"},
    {"[>100]0.0;[<-5]\"neg \"0;0", 150, false, "150.0"},
    {"[>100]0.0;[<-5]\"neg \"0;0", -10, false, "neg 10"},
    {"[>100]0.0;[<-5]\"neg \"0;0", 3, false, "3"},
    {"[=0]\"none\";0%", 0, false, "none"},
    {"[=0]\"none\";0%", 0.25, false, "25%"},
    {"#,###;;", 0, false, ""},
    {"#,###;;", 1234, false, "1,234"},
    {"[Red]0.00;[Blue]-0.00", -1.5, false, "-1.50"},
    {"\"¥\"#,##0.00", 1234.5, false, "¥1,234.50"},
    {"0.0\\k\\g", 2.25, false, "2.3kg"},
    {"\"合计：\"0", 7, false, "合计：7"},
    {"_ * #,##0.00_ ;_ * \\-#,##0.00_ ;_ * \"-\"??_ ;_ @_ ", 1234.5, false, " 1,234.50 "},
    {"_ * #,##0.00_ ;_ * \\-#,##0.00_ ;_ * \"-\"??_ ;_ @_ ", -1234.5, false, " -1,234.50 "},
    {"_ * #,##0.00_ ;_ * \\-#,##0.00_ ;_ * \"-\"??_ ;_ @_ ", 0, false, " -   "},
    {"000.0#", 3.14159, false, "003.14"},
    {"#.##", 0.5, false, ".5"},
    {"???.??", 1.5, false, "  1.5 "},
    {"000-00-0000", 123456789, false, "123-45-6789"},
    {"#,##0", 1234567, false, "1,234,567"},
    {"#,##0.00", 1234.5, false, "1,234.50"},
    {"0.0,,\"M\"", 12345678, false, "12.3M"},
    {"#,##0,", 1234567, false, "1,235"},
    {"0.00%", 0.125, false, "12.50%"},
    {"0%", 0.5, false, "50%"},
    {"0.0%", -0.0125, false, "-1.3%"},
    {"0.00E+00", 12345, false, "1.23E+04"},
    {"##0.0E+0", 12345, false, "12.3E+3"},
    {"0.00E+00", 0.000123, false, "1.23E-04"},
    {"0.0E-00", 12345, false, "1.2E04"},
    {"# ?/?", 1.5, false, "1 1/2"},
    {"# ?\?/?\?", 12345.6789, false, "12345 55/81"},
    {"?/8", 0.3, false, "2/8"},
    {"# ?/4", 2.25, false, "2 1/4"},
    {"# ?/?", -0.75, false, "- 3/4"},
    {"@", 5, false, "5"},
    {"0;-0;0;@", 12, false, "12"},
    {"yyyy/m/d", 45306, false, "2024/1/15"},
    {"yyyy-mm-dd hh:mm:ss", 45306.5, false, "2024-01-15 12:00:00"},
    {"m/d", 45306, false, "1/15"},
    {"h:mm", 0.5104166666666666, false, "12:15"},
    {"yy-mm", 45306, false, "24-01"},
    {"yyyy\"年\"m\"月\"d\"日\"", 45306, false, "2024年1月15日"},
    {"m\"月\"d\"日\"", 45306, false, "1月15日"},
    {"dddd", 45306, false, "星期一"},
    {"ddd", 45306, false, "一"},
    {"mmmm", 45306, false, "一月"},
    {"mmm", 45306, false, "1月"},
    {"[$-409]mmmm d, yyyy", 45306, false, "January 15, 2024"},
    {"[$-409]ddd, mmm d", 45306, false, "Mon, Jan 15"},
    {"[$-804]mmmm", 45306, false, "一月"},
    {"[$-804]dddd", 45306, false, "星期一"},
    {"[$-804]yyyy\"年\"m\"月\"d\"日\" aaaa", 45306, false, "2024年1月15日 星期一"},
    {"h:mm AM/PM", 0.75, false, "6:00 下午"},
    {"[$-409]h:mm AM/PM", 0.75, false, "6:00 PM"},
    {"[$-409]h:mm:ss AM/PM", 0.25, false, "6:00:00 AM"},
    {"[h]:mm:ss", 1.5, false, "36:00:00"},
    {"[mm]:ss", 0.1, false, "144:00"},
    {"[ss]", 0.01, false, "864"},
    {"h:mm:ss.00", 0.123456, false, "2:57:46.60"},
    {"yyyy/m/d h:mm", 45306.75, false, "2024/1/15 18:00"},
    {"d-mmm-yy", 45306, false, "15-1月-24"},
    {"[$-409]d-mmm-yy", 45306, false, "15-Jan-24"},
    {"[$¥-804]#,##0.00", 1234.5, false, "¥1,234.50"},
    {"[$$-409]#,##0.00", -1234.5, false, "-$1,234.50"},
    {"[$-804]0.00", 3.5, false, "3.50"},
    {"[DBNum1][$-804]General", 123, false, "一百二十三"},
    {"[DBNum2][$-804]General", 123, false, "壹佰贰拾叁"},
    {"[DBNum1][$-804]General", 10, false, "一十"},
    {"[DBNum1][$-804]General", 1005, false, "一千〇五"},
    {"[DBNum2][$-804]General", 10, false, "壹拾"},
    {"[DBNum1][$-804]yyyy\"年\"m\"月\"d\"日\"", 45306, false, "二〇二四年一月十五日"},
    {"[DBNum1][$-804]m\"月\"d\"日\"", 45306, false, "一月十五日"},
    {"0.00", 2.675, false, "2.68"},
    {"0", 2.5, false, "3"},
    {"0", -2.5, false, "-3"},
    {"0.000", 1.0005, false, "1.001"},
    {"General\" kg\"", 12.5, false, "12.5 kg"},
    {"#,##0.00_ ;[Red]\\-#,##0.00\\ ", -1234.5, false, "-1,234.50 "},
    {"mm:ss", 0.0125, false, "18:00"},
    {"# ?/?", 1, false, "1    "},
    {"yyyy/m/d", 0, true, "1904/1/1"},
    {"yyyy/m/d", 43841, true, "2024/1/12"},
    {"yyyy-mm-dd", 1, true, "1904-01-02"},
    // The zh-CN built-in formats 34 and 35 (ECMA-376 Part 1, 18.8.30), which LibreOffice does not render.
    {"上午/下午h\"时\"mm\"分\"", 0.25, false, "上午6时00分"},
    {"上午/下午h\"时\"mm\"分\"ss\"秒\"", 0.75, false, "下午6时00分00秒"},
    // The application's 29 February 1900 (serial 60), and serial 1 as 1 January 1900.
    {"yyyy/m/d", 60, false, "1900/2/29"},
    {"yyyy/m/d", 1, false, "1900/1/1"},
    {"yyyy/m/d", 61, false, "1900/3/1"},
    // General as a cell of standard width shows it: 11 characters, scientific from 12 digits on.
    {"General", 12345678901, false, "12345678901"},
    {"General", 123456789012, false, "1.23457E+11"},
    {"General", 1.0 / 3, false, "0.333333333"},
    {"General", -2.0 / 3, false, "-0.666666667"},
    {"General", 0.1 + 0.2, false, "0.3"},
    {"General", 1234.5678901234, false, "1234.56789"},
    {"General", 0.000012345678, false, "1.23457E-05"},
};

INSTANTIATE_TEST_SUITE_P(Codes, NumberFormatTable, ::testing::ValuesIn(kRows));

} // namespace

// Values no date, fraction or numeral can show fall back to General instead of breaking the text.
TEST(NumberFormat, ValuesBeyondWhatTheCodeCanShowFallBackToGeneral)
{
    EXPECT_EQ(NumberFormat(QStringLiteral("yyyy/m/d h:mm")).format(1e300), QStringLiteral("1E+300"));
    EXPECT_EQ(NumberFormat(QStringLiteral("[h]:mm:ss")).format(-1e18), QStringLiteral("-1E+18"));
    EXPECT_EQ(NumberFormat(QStringLiteral("# ?/?")).format(1e20), QStringLiteral("1E+20"));
    // Six-digit denominators are searched by continued fractions: 617/5000 exactly.
    EXPECT_EQ(NumberFormat(QStringLiteral("# ?\?\?\?\?\?/?\?\?\?\?\?")).format(0.1234),
              QStringLiteral("    617/5000  "));
    EXPECT_FALSE(NumberFormat(QStringLiteral("[DBNum1]General")).format(1e30).isEmpty());
}
