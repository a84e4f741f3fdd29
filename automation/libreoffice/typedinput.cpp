#include "typedinput.h"

#include <QRegularExpression>

namespace corvane::automation::libreoffice {

TypedInput parseTypedInput(const QString& text)
{
    TypedInput input;
    if (text.startsWith(QLatin1Char('\''))) {
        input.text = text.mid(1);
        return input;
    }
    if (text.startsWith(QLatin1Char('='))) {
        input.kind = TypedInput::Kind::Formula;
        input.text = text;
        return input;
    }
    static const QRegularExpression number(
        QStringLiteral("\\A([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)(%?)\\z"));
    const QRegularExpressionMatch m = number.match(text);
    if (m.hasMatch()) {
        bool ok = false;
        const double value = m.captured(1).toDouble(&ok);
        if (ok) {
            input.kind = TypedInput::Kind::Number;
            input.percent = !m.captured(2).isEmpty();
            input.number = input.percent ? value / 100.0 : value;
            return input;
        }
    }
    if (text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
        text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
        input.kind = TypedInput::Kind::Boolean;
        input.boolean = text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
        return input;
    }
    input.text = text;
    return input;
}

} // namespace corvane::automation::libreoffice
