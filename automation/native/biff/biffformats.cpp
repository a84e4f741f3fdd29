#include "biffformats.h"

#include "sharedstringtable.h"

namespace corvane::automation::native::biff {

namespace {
constexpr std::uint16_t kFormat = 0x041E;
constexpr std::uint16_t kDateMode = 0x0022;
} // namespace

void BiffFormats::read(const Record& record)
{
    const QByteArray& b = record.data;
    switch (record.type) {
    case rt::kXf:
        // An XF cut short keeps its place in the numbering, in General.
        m_xfFormats.push_back(b.size() >= 4 ? le16(b, 2) : 0);
        break;
    case kFormat: {
        QString code;
        if (b.size() >= 5 && readUnicodeString(b, 2, true, &code))
            m_formats.define(le16(b, 0), code);
        break;
    }
    case kDateMode:
        m_date1904 = b.size() >= 2 && le16(b, 0) == 1;
        break;
    default:
        break;
    }
}

const NumberFormat* BiffFormats::format(int xf)
{
    if (xf < 0 || std::size_t(xf) >= m_xfFormats.size())
        return nullptr;
    return m_formats.format(m_xfFormats[std::size_t(xf)]);
}

QString BiffFormats::shown(double value, int xf)
{
    if (const NumberFormat* f = format(xf))
        return f->format(value, m_date1904);
    return generalDisplayText(value);
}

} // namespace corvane::automation::native::biff
