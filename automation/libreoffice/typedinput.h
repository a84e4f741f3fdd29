// How a text written into a cell is understood, as if typed: "=..." is a formula, a number
// (sign, decimal point, exponent, trailing "%") a number, TRUE/FALSE a boolean, a leading
// apostrophe forces the rest to be text, anything else is text.
#pragma once

#include <QString>

namespace corvane::automation::libreoffice {

struct TypedInput
{
    enum class Kind
    {
        Formula,
        Number,
        Boolean,
        Text
    };

    Kind kind = Kind::Text;
    QString text;        // Formula: the formula with "="; Text: the text
    double number = 0.0; // Number (a percentage already divided by 100)
    bool percent = false;
    bool boolean = false;
};

TypedInput parseTypedInput(const QString& text);

} // namespace corvane::automation::libreoffice
