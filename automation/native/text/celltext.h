// How cell contents turn into the texts the application shows and searches, and how typed text
// turns into cell contents.
#pragma once

#include <QString>

namespace corvane::automation::native {

// A cell's content as typed input makes it.
struct CellInput
{
    enum class Kind
    {
        Empty,
        Text,
        Number,
        Boolean,
        Error,
        Formula
    };
    Kind kind = Kind::Empty;
    QString text; // Text, Error; Formula: without the leading "="
    double number = 0.0;
    bool boolean = false;
};

// A number in the General format: up to 15 significant digits, shortest form, "1E+20" style
// exponents for very large or small magnitudes.
QString generalNumberText(double value);
// Whether `code` is one of the error values ("#N/A", "#DIV/0!", ...).
bool isErrorCode(const QString& code);

// Interprets text as the application does when it is typed into a cell. False when the
// application would refuse it (a formula that does not parse, "=" alone).
bool parseTypedInput(const QString& text, CellInput& out);
// A light syntax check of formula text (without "="): balanced parentheses, closed strings and
// quoted sheet names, something to calculate.
bool formulaLooksValid(const QString& formula);

} // namespace corvane::automation::native
