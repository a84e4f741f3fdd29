// Chinese numerals, apart from the format code: a number section spells its whole text in them,
// a date section each of its fields.
#include "chinesenumerals.h"

#include <algorithm>

namespace corvane::automation::native {

// Chinese numerals: DBNum1 一二三 with 十百千, DBNum2 壹贰叁 with 拾佰仟; "digitwise" spells each
// digit (years, decimals); "shortTens" leaves the 一 off 十 to 十九 (days, months).
QString chineseNumber(const QString& digits, int dbnum, bool digitwise, bool shortTens)
{
    static const QString lower = QStringLiteral("〇一二三四五六七八九");
    static const QString upper = QStringLiteral("零壹贰叁肆伍陆柒捌玖");
    const QString& names = dbnum == 2 ? upper : lower;
    if (digitwise || digits.size() > 16) {
        QString out;
        for (QChar c : digits)
            out += c.isDigit() ? names[c.digitValue()] : c;
        return out;
    }
    const QString units = dbnum == 2 ? QStringLiteral("拾佰仟") : QStringLiteral("十百千");
    const QString groups = QStringLiteral("万亿万");
    QString trimmed = digits;
    while (trimmed.size() > 1 && trimmed.startsWith(QLatin1Char('0')))
        trimmed.remove(0, 1);
    if (trimmed == QLatin1String("0"))
        return names.left(1);
    QString out;
    const int n = trimmed.size();
    bool pendingZero = false;
    for (int i = 0; i < n; ++i) {
        const int d = trimmed[i].digitValue();
        const int place = n - 1 - i; // power of ten
        const int inGroup = place % 4;
        if (d == 0) {
            pendingZero = true;
        } else {
            if (pendingZero && !out.isEmpty())
                out += names[0];
            pendingZero = false;
            // Days and months read 十五, other numbers 一十五.
            if (!(shortTens && dbnum != 2 && d == 1 && inGroup == 1 && out.isEmpty()))
                out += names[d];
            if (inGroup > 0)
                out += units[inGroup - 1];
        }
        if (inGroup == 0 && place > 0) {
            // A group of four ends: name it when it held a digit.
            const int start = std::max(0, i - 3);
            bool any = false;
            for (int k = start; k <= i; ++k)
                any = any || trimmed[k] != QLatin1Char('0');
            if (any || place % 8 == 0)
                out += groups[place / 4 - 1];
        }
    }
    return out;
}

// Every run of ASCII digits of `text` in Chinese numerals; a run after a decimal point digitwise.
QString chineseDigits(const QString& text, int dbnum)
{
    QString out;
    for (int i = 0; i < text.size();) {
        if (text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) {
            int j = i;
            while (j < text.size() && text[j] >= QLatin1Char('0') && text[j] <= QLatin1Char('9'))
                ++j;
            const bool decimals = i > 0 && text[i - 1] == QLatin1Char('.');
            out += chineseNumber(text.mid(i, j - i), dbnum, decimals);
            i = j;
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace corvane::automation::native
