#include "cellvalue.h"

#include <QLocale>

namespace corvane::automation {

QString CellValue::toText() const
{
    switch (kind) {
    case Kind::Empty:
        return {};
    case Kind::Text:
    case Kind::Error:
        return text;
    case Kind::Number:
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    case Kind::Boolean:
        return boolean ? QStringLiteral("true") : QStringLiteral("false");
    }
    return {};
}

} // namespace corvane::automation
