// Numbers in Chinese numerals ([DBNum1], [DBNum2]), which number and date sections both write.
#pragma once

#include <QString>

namespace corvane::automation::native {

QString chineseNumber(const QString& digits, int dbnum, bool digitwise, bool shortTens = false);
QString chineseDigits(const QString& text, int dbnum);

} // namespace corvane::automation::native
