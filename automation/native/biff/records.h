// The workbook stream of a binary workbook as a list of records that keep their bytes, and its
// writing back: records copied as they were, changed ones in their place, and every stream
// position that other records hold (sheet starts, the row index, the row blocks) made to follow.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

namespace corvane::automation::native::biff {

namespace rt {
constexpr std::uint16_t kFormula = 0x0006;
constexpr std::uint16_t kEof = 0x000A;
constexpr std::uint16_t kProtect = 0x0012;
constexpr std::uint16_t kFilePass = 0x002F;
constexpr std::uint16_t kContinue = 0x003C;
constexpr std::uint16_t kBoundSheet = 0x0085;
constexpr std::uint16_t kMulRk = 0x00BD;
constexpr std::uint16_t kMulBlank = 0x00BE;
constexpr std::uint16_t kRString = 0x00D6;
constexpr std::uint16_t kDbCell = 0x00D7;
constexpr std::uint16_t kSst = 0x00FC;
constexpr std::uint16_t kLabelSst = 0x00FD;
constexpr std::uint16_t kExtSst = 0x00FF;
constexpr std::uint16_t kDimensions = 0x0200;
constexpr std::uint16_t kBlank = 0x0201;
constexpr std::uint16_t kNumber = 0x0203;
constexpr std::uint16_t kLabel = 0x0204;
constexpr std::uint16_t kBoolErr = 0x0205;
constexpr std::uint16_t kString = 0x0207;
constexpr std::uint16_t kRow = 0x0208;
constexpr std::uint16_t kIndex = 0x020B;
constexpr std::uint16_t kColInfo = 0x007D;
constexpr std::uint16_t kDefaultRowHeight = 0x0225;
constexpr std::uint16_t kArray = 0x0221;
constexpr std::uint16_t kTable = 0x0236;
constexpr std::uint16_t kRk = 0x027E;
constexpr std::uint16_t kXf = 0x00E0;
constexpr std::uint16_t kShrFmla = 0x04BC;
constexpr std::uint16_t kBof = 0x0809;
} // namespace rt

// The largest record body BIFF8 allows.
constexpr int kMaxRecordData = 8224;

struct Record
{
    std::uint16_t type = 0;
    QByteArray data;
    std::uint32_t offset = 0; // where the record started in the stream as read
    // A DBCELL or INDEX whose stream positions are found anew where the stream is written,
    // from the records written round it: a block of rows, or a sheet's blocks, that changed
    // shape. A DBCELL's body is made whole there; an INDEX comes with its size and row bounds.
    bool rebuilt = false;
};

// Little-endian reads; the caller checks the bounds.
inline std::uint16_t le16(const QByteArray& b, int at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return std::uint16_t(p[0] | (p[1] << 8));
}
inline std::uint32_t le32(const QByteArray& b, int at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData() + at);
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}
inline void put16(QByteArray& b, int at, std::uint32_t v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}
inline void put32(QByteArray& b, int at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}
inline void append16(QByteArray& b, std::uint32_t v)
{
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
inline void append32(QByteArray& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

// Whether a record is one of a sheet's cells (the records a DBCELL points at).
inline bool isCellRecord(std::uint16_t type)
{
    switch (type) {
    case rt::kFormula:
    case rt::kLabelSst:
    case rt::kNumber:
    case rt::kRk:
    case rt::kMulRk:
    case rt::kBoolErr:
    case rt::kBlank:
    case rt::kMulBlank:
    case rt::kLabel:
    case rt::kRString:
        return true;
    default:
        return false;
    }
}

class WorkbookStream
{
public:
    // False with `error` when the stream is no sequence of well-formed records: a length that
    // runs past the end, a record longer than BIFF8 allows, no BOF first.
    bool parse(const QByteArray& stream, QString* error);

    std::vector<Record>& records() { return m_records; }
    const std::vector<Record>& records() const { return m_records; }

    // Everything that changes between reading and writing, by index into records().
    // A record written as these records instead (none: the record is left out).
    void replace(std::size_t index, std::vector<Record> with) { m_replaced[index] = std::move(with); }
    bool isReplaced(std::size_t index) const { return m_replaced.count(index) != 0; }
    // Records written just before record `index`, or just after it (new cells of a row).
    std::vector<Record>& insertedBefore(std::size_t index) { return m_inserted[index]; }
    std::vector<Record>& insertedAfter(std::size_t index) { return m_appended[index]; }
    bool changed() const { return !m_replaced.empty() || !m_inserted.empty() || !m_appended.empty(); }

    // The stream with every change in place and the positions that other records hold updated.
    // False with `error` when a position no longer fits where it is stored.
    bool write(QByteArray* out, QString* error) const;

private:
    std::vector<Record> m_records;
    QByteArray m_tail; // bytes after the last EOF (padding), kept as they were
    std::map<std::size_t, std::vector<Record>> m_replaced;
    std::map<std::size_t, std::vector<Record>> m_inserted;
    std::map<std::size_t, std::vector<Record>> m_appended;
};

} // namespace corvane::automation::native::biff
