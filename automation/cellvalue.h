// The typed content of one cell as the server reports it.
#pragma once

#include <QString>

namespace corvane::automation {

struct CellValue
{
    enum class Kind
    {
        Empty,
        Text,
        Number,
        Boolean,
        Error
    };

    Kind kind = Kind::Empty;
    QString text;        // Text: the string; Error: the code such as "#N/A"
    double number = 0.0; // Number
    bool boolean = false;

    static CellValue empty() { return {}; }
    static CellValue fromText(const QString& s) { return {Kind::Text, s, 0.0, false}; }
    static CellValue fromNumber(double d) { return {Kind::Number, {}, d, false}; }
    static CellValue fromBoolean(bool b) { return {Kind::Boolean, {}, 0.0, b}; }
    static CellValue fromError(const QString& code) { return {Kind::Error, code, 0.0, false}; }

    // The value as the operations turn it into text: numbers in their shortest exact decimal
    // form ("1.5", "100", "1e+20"), booleans "true"/"false", errors their code, empty "".
    QString toText() const;
};

} // namespace corvane::automation
