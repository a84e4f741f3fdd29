// The error codes of ptgErr and array constants, and their texts.
#include "tokencodes.h"

namespace corvane::automation::native::biff {

namespace {

struct ErrorCode
{
    int code;
    const char* text;
};
constexpr ErrorCode kErrorCodes[] = {
    {0x00, "#NULL!"}, {0x07, "#DIV/0!"}, {0x0F, "#VALUE!"}, {0x17, "#REF!"},
    {0x1D, "#NAME?"}, {0x24, "#NUM!"},   {0x2A, "#N/A"},
};

} // namespace

QString errorText(int code)
{
    for (const ErrorCode& e : kErrorCodes) {
        if (e.code == code)
            return QLatin1String(e.text);
    }
    return {};
}

std::optional<int> errorCode(const QString& text)
{
    for (const ErrorCode& e : kErrorCodes) {
        if (text.compare(QLatin1String(e.text), Qt::CaseInsensitive) == 0)
            return e.code;
    }
    return std::nullopt;
}

} // namespace corvane::automation::native::biff
