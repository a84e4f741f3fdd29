// Number format codes (the `formatCode` of a style's number format, or a built-in format by id)
// and the text a number shows under them, as the application displays it with the zh-CN locale.
#pragma once

#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace corvane::automation::native {

// A number in the General format as a cell of standard width shows it: at most 11 characters
// (the sign not counted), scientific notation with 6 significant digits beyond that.
QString generalDisplayText(double value);

// The format code of a built-in number format id, as the zh-CN application reads it; empty for
// an id that is not built in (the cell then shows General).
QString builtinFormatCode(int id);

class NumberFormat
{
public:
    explicit NumberFormat(const QString& code);

    // The text `value` shows. Dates count days from 1899-12-30 (with the application's 29 February
    // 1900), or from 1904-01-01 when `date1904`.
    QString format(double value, bool date1904 = false) const;
    // Nothing but General: the cell shows what generalDisplayText() gives.
    bool isGeneral() const { return m_general; }

    struct Token
    {
        enum class Type
        {
            Literal,
            Digit,   // 0 # ?
            Point,   // decimal point
            Comma,   // thousands separator or scaling, told apart once the section is read
            Percent, // shown as "%", the value times 100
            Exponent,
            Slash,
            General,
            Text,   // @
            Year,   // width 2 or 4
            Month,  // width 1 to 5 (5: first letter)
            Minute, // m or mm read as minutes
            Day,    // width 1 to 4
            CjkDay, // aaa or aaaa
            Hour,
            Second,
            SubSecond, // width: digits
            Elapsed,   // [h] [m] [s]; letter in `text`, width
            AmPm,      // text: "AM/PM", "A/P" (as written) or "上午/下午"
        };
        Type type;
        QString text; // Literal text; Digit: the placeholder; Exponent: "+" or "-"
        int width = 0;
    };

private:
    struct Section
    {
        std::vector<Token> tokens;
        enum class Kind
        {
            Number,
            Fraction,
            Scientific,
            Date,
            Text,
            General
        } kind = Kind::Number;
        bool hasCondition = false;
        char conditionOp[3] = {0, 0, 0};
        double conditionValue = 0;
        int lcid = 0;
        int dbnum = 0;
        bool grouping = false;
        int scale = 0; // thousands removed by trailing commas
        int percent = 0;
        bool hour12 = false;
        int subSecondDigits = 0;
    };

    void parseSection(const QString& text, Section& s);
    void classify(Section& s);
    const Section* choose(double value, bool& showMinus) const;
    QString formatNumber(const Section& s, double value) const;
    QString formatScientific(const Section& s, double value) const;
    QString formatFraction(const Section& s, double value) const;
    QString formatDate(const Section& s, double value, bool date1904) const;
    static bool conditionHolds(const Section& s, double value);

    std::vector<Section> m_sections;
    bool m_general = false;
};

// A workbook's number formats by id: the codes it defines, and the built-in codes for the ids it
// does not. A format is parsed when a cell first shows through it.
class NumberFormatTable
{
public:
    void define(int id, const QString& code) { m_codes[id] = code; }
    // Null for General, and for an id neither the workbook nor the built-in formats know.
    const NumberFormat* format(int id);

private:
    std::map<int, QString> m_codes;
    std::map<int, std::unique_ptr<NumberFormat>> m_parsed;
};

} // namespace corvane::automation::native
