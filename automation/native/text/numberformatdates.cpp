// Dates and times under a date section: the 1900 and 1904 calendars, names in English or
// Chinese, elapsed time and fractions of a second.
#include "numberformat.h"

#include "chinesenumerals.h"

#include <QDate>

#include <cmath>

namespace corvane::automation::native {

namespace {

using Token = NumberFormat::Token;
using Type = NumberFormat::Token::Type;

// Names (months, days, AM/PM) in Chinese: a Chinese locale tag, or none (the zh-CN system's).
bool isChineseLocale(int lcid)
{
    const int language = lcid & 0xFFFF;
    if (language == 0)
        return true;
    return language == 0x804 || language == 0x404 || language == 0xC04 || language == 0x1004 ||
           language == 0x1404;
}

} // namespace

QString NumberFormat::formatDate(const Section& s, double value, bool date1904) const
{
    // Round to the smallest unit shown, then split into days and the time of day.
    const double unitsPerSecond = std::pow(10.0, s.subSecondDigits);
    const long long perDay = (long long)(86400 * unitsPerSecond);
    // Outside the calendar (before year 1, after 9999) the application shows no date at all; the
    // number is shown as it is instead.
    if (!(value > -693593 && value < 2958466))
        return generalDisplayText(value);
    const long long units = std::llround(value * double(perDay));
    long long days = units / perDay;
    long long rem = units % perDay;
    if (rem < 0) {
        rem += perDay;
        --days;
    }
    const long long secondsOfDay = rem / (long long)unitsPerSecond;
    const long long subSecond = rem % (long long)unitsPerSecond;
    const int hour = int(secondsOfDay / 3600), minute = int(secondsOfDay / 60 % 60),
              second = int(secondsOfDay % 60);

    int year = 1900, month = 1, day = 0, weekday = 0; // weekday 0 = Sunday
    if (date1904) {
        const QDate d = QDate(1904, 1, 1).addDays(days);
        year = d.year(), month = d.month(), day = d.day();
        weekday = d.dayOfWeek() % 7;
    } else if (days == 60) {
        year = 1900, month = 2, day = 29; // the application's day that never was
        weekday = 3;
    } else if (days > 0 || days < 0) {
        const QDate d =
            days < 60 && days > 0 ? QDate(1899, 12, 31).addDays(days) : QDate(1899, 12, 30).addDays(days);
        year = d.year(), month = d.month(), day = d.day();
        weekday = days > 0 && days < 60 ? int((days + 6) % 7) : d.dayOfWeek() % 7;
    } else {
        weekday = 6; // day 0: "1900-01-00", a Saturday
    }

    if (month < 1 || month > 12)
        return generalDisplayText(value);
    const bool chinese = isChineseLocale(s.lcid) || s.dbnum > 0;
    static const char* const monthNames[] = {"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
    static const char* const dayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                           "Thursday", "Friday", "Saturday"};
    static const QString cjkDays = QStringLiteral("日一二三四五六");
    const auto number = [&s](long long n, int width, bool digitwise = false) {
        QString t = QString::number(n);
        while (t.size() < width)
            t.prepend(QLatin1Char('0'));
        if (s.dbnum == 1 || s.dbnum == 2)
            t = chineseNumber(t, s.dbnum, digitwise, true);
        return t;
    };
    const bool pm = hour >= 12;
    QString out;
    for (const Token& t : s.tokens) {
        switch (t.type) {
        case Type::Literal:
            out += t.text;
            break;
        case Type::Year:
            out += t.width == 2 ? number(year % 100, 2, true) : number(year, 4, true);
            break;
        case Type::Month:
            if (t.width <= 2) {
                out += number(month, t.width);
            } else if (chinese) {
                if (t.width == 4)
                    out += chineseNumber(QString::number(month), 1, false, true) + QStringLiteral("月");
                else if (t.width == 3)
                    out += QString::number(month) + QStringLiteral("月");
                else
                    out += chineseNumber(QString::number(month), 1, false, true).left(1);
            } else {
                const QString name = QLatin1String(monthNames[month - 1]);
                out += t.width == 3 ? name.left(3) : t.width == 4 ? name : name.left(1);
            }
            break;
        case Type::Minute:
            out += number(minute, t.width);
            break;
        case Type::Day:
            if (t.width <= 2) {
                out += number(day, t.width);
            } else if (chinese) {
                out += (t.width == 3 ? QString() : QStringLiteral("星期")) + cjkDays[weekday];
            } else {
                const QString name = QLatin1String(dayNames[weekday]);
                out += t.width == 3 ? name.left(3) : name;
            }
            break;
        case Type::CjkDay:
            out += (t.width >= 4 ? QStringLiteral("星期") : QString()) + cjkDays[weekday];
            break;
        case Type::Hour: {
            int h = hour;
            if (s.hour12) {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            out += number(h, t.width);
            break;
        }
        case Type::Second:
            out += number(second, t.width);
            break;
        case Type::SubSecond: {
            QString digits = QString::number(subSecond);
            while (digits.size() < s.subSecondDigits)
                digits.prepend(QLatin1Char('0'));
            out += QLatin1Char('.') + digits.left(t.width);
            break;
        }
        case Type::Elapsed: {
            const long long totalSeconds = units / (long long)unitsPerSecond;
            long long n = totalSeconds;
            if (t.text == QLatin1String("h"))
                n = totalSeconds / 3600;
            else if (t.text == QLatin1String("m"))
                n = totalSeconds / 60;
            out += number(n, t.width);
            break;
        }
        case Type::AmPm:
            if (t.text == QStringLiteral("上午/下午") || (isChineseLocale(s.lcid) && t.text.size() == 5))
                out += pm ? QStringLiteral("下午") : QStringLiteral("上午");
            else if (t.text.size() == 3) // A/P as written
                out += pm ? t.text.mid(2, 1) : t.text.left(1);
            else
                out += pm ? (t.text[0].isLower() ? QStringLiteral("pm") : QStringLiteral("PM"))
                          : (t.text[0].isLower() ? QStringLiteral("am") : QStringLiteral("AM"));
            break;
        default:
            break;
        }
    }
    return out;
}

} // namespace corvane::automation::native
