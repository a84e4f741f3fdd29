// The error codes of ptgErr and array constants, and their texts; the characters of stored
// strings.
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

QString storedCharacters(const char* bytes, int count, bool wide)
{
    if (!wide)
        return QString::fromLatin1(bytes, count);
    // Units assembled byte by byte: a string inside tokens or records is not aligned.
    QString text(count, Qt::Uninitialized);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    for (int i = 0; i < count; ++i)
        text[i] = QChar(char16_t(p[2 * i] | (p[2 * i + 1] << 8)));
    return text;
}

} // namespace corvane::automation::native::biff
