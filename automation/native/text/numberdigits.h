// The digits the application keeps of a number and its rounding of them, which General and the
// number sections of a format code both show.
#pragma once

#include <QString>

#include <string>

namespace corvane::automation::native {

void significantDigits(double value, std::string& digits, int& point);
void roundedDigits(double value, int decimals, QString& intPart, QString& fracPart);

} // namespace corvane::automation::native
