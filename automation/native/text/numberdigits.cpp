// The digits of a number and their rounding, kept apart from the format code because General
// needs them as much as the number sections do.
#include "numberdigits.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvane::automation::native {

// The 15 significant digits the application keeps of |value| (value = 0.digits * 10^point).
void significantDigits(double value, std::string& digits, int& point)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    digits.assign(1, buf[0]);
    digits.append(buf + 2, 14);
    point = std::atoi(std::strchr(buf, 'e') + 1) + 1;
}

// |value| rounded half away from zero to `decimals` places, from its 15 significant digits:
// the integer digits without leading zeros (empty for 0) and exactly `decimals` fraction digits.
void roundedDigits(double value, int decimals, QString& intPart, QString& fracPart)
{
    intPart.clear();
    fracPart = QString(decimals, QLatin1Char('0'));
    if (value == 0 || !std::isfinite(value))
        return;
    std::string digits;
    int point = 0;
    significantDigits(value, digits, point);
    const int keep = point + decimals;
    if (keep < 0)
        return;
    std::string kept;
    if (keep >= int(digits.size())) {
        kept = digits + std::string(size_t(keep) - digits.size(), '0');
    } else {
        kept = digits.substr(0, size_t(keep));
        if (digits[size_t(keep)] >= '5') {
            int i = keep - 1;
            while (i >= 0 && kept[size_t(i)] == '9')
                kept[size_t(i--)] = '0';
            if (i < 0) {
                kept.insert(0, "1");
                ++point;
            } else {
                ++kept[size_t(i)];
            }
        }
    }
    if (point < 0) {
        kept.insert(0, size_t(-point), '0');
        point = 0;
    }
    std::string ip = kept.substr(0, size_t(point));
    const size_t nz = ip.find_first_not_of('0');
    ip = nz == std::string::npos ? std::string() : ip.substr(nz);
    intPart = QString::fromLatin1(ip.c_str());
    fracPart = QString::fromLatin1(kept.substr(size_t(point)).c_str());
}

} // namespace corvane::automation::native
