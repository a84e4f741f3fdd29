#include "compoundfile.h"

#include <QFile>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace corvane::automation {

namespace {

const char kMagic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::uint32_t kMaxRegular = 0xFFFFFFFAu;
// The start of a workbook stream holds the globals' first records; FILEPASS comes right after BOF.
constexpr std::size_t kWorkbookHead = 1 << 16;

// Every read is checked against the file's end: the file may be truncated or hostile.
class CompoundFile
{
public:
    explicit CompoundFile(const QByteArray& data) : m_data(data) {}

    bool load();
    // The directory entry whose name is `name` (letter case ignored) and which is a stream.
    bool findStream(const char* name, std::uint32_t* start, std::uint64_t* size) const;
    // Up to `limit` bytes of the stream.
    QByteArray readStream(std::uint32_t start, std::uint64_t size, std::size_t limit) const;

private:
    bool u16(std::uint64_t at, std::uint16_t* out) const
    {
        if (at + 2 > std::uint64_t(m_data.size()))
            return false;
        const auto* p = reinterpret_cast<const unsigned char*>(m_data.constData() + at);
        *out = std::uint16_t(p[0] | (p[1] << 8));
        return true;
    }
    bool u32(std::uint64_t at, std::uint32_t* out) const
    {
        if (at + 4 > std::uint64_t(m_data.size()))
            return false;
        const auto* p = reinterpret_cast<const unsigned char*>(m_data.constData() + at);
        *out = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
               (std::uint32_t(p[3]) << 24);
        return true;
    }
    std::uint64_t sectorOffset(std::uint32_t sector) const { return (std::uint64_t(sector) + 1) << m_shift; }
    // The sectors of a chain in `table`, at most `maxSectors` of them; stops at a loop.
    std::vector<std::uint32_t> chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                     std::size_t maxSectors) const;
    QByteArray readChain(const std::vector<std::uint32_t>& table, std::uint32_t start, std::uint64_t size,
                         std::size_t limit, bool mini) const;

    const QByteArray& m_data;
    unsigned m_shift = 9;
    unsigned m_miniShift = 6;
    std::uint32_t m_miniCutoff = 4096;
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    QByteArray m_directory;
    QByteArray m_miniStream;
};

std::vector<std::uint32_t> CompoundFile::chain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                               std::size_t maxSectors) const
{
    std::vector<std::uint32_t> sectors;
    std::uint32_t at = start;
    while (at <= kMaxRegular && at < table.size() && sectors.size() < maxSectors &&
           sectors.size() <= table.size()) {
        sectors.push_back(at);
        at = table[at];
    }
    return sectors;
}

QByteArray CompoundFile::readChain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                   std::uint64_t size, std::size_t limit, bool mini) const
{
    const unsigned shift = mini ? m_miniShift : m_shift;
    const std::uint64_t sectorSize = std::uint64_t(1) << shift;
    const std::uint64_t wanted = std::min<std::uint64_t>(size, limit);
    QByteArray out;
    for (const std::uint32_t sector : chain(table, start, std::size_t(wanted / sectorSize + 1))) {
        if (std::uint64_t(out.size()) >= wanted)
            break;
        const QByteArray& source = mini ? m_miniStream : m_data;
        const std::uint64_t at = mini ? (std::uint64_t(sector) << shift) : sectorOffset(sector);
        if (at >= std::uint64_t(source.size()))
            break;
        const std::uint64_t take =
            std::min({sectorSize, std::uint64_t(source.size()) - at, wanted - std::uint64_t(out.size())});
        out.append(source.constData() + at, int(take));
    }
    return out;
}

bool CompoundFile::load()
{
    if (m_data.size() < 512 || std::memcmp(m_data.constData(), kMagic, 8) != 0)
        return false;
    std::uint16_t shift = 0;
    std::uint16_t miniShift = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t firstDir = 0;
    std::uint32_t firstMiniFat = 0;
    std::uint32_t miniFatCount = 0;
    std::uint32_t firstDifat = 0;
    std::uint32_t difatCount = 0;
    if (!u16(0x1E, &shift) || !u16(0x20, &miniShift) || !u32(0x2C, &fatCount) || !u32(0x30, &firstDir) ||
        !u32(0x38, &m_miniCutoff) || !u32(0x3C, &firstMiniFat) || !u32(0x40, &miniFatCount) ||
        !u32(0x44, &firstDifat) || !u32(0x48, &difatCount))
        return false;
    if ((shift != 9 && shift != 12) || miniShift != 6)
        return false;
    m_shift = shift;
    m_miniShift = miniShift;
    const std::uint64_t sectorSize = std::uint64_t(1) << m_shift;
    const std::uint64_t sectors = std::uint64_t(m_data.size()) / sectorSize;
    if (fatCount > sectors)
        return false;

    // The sectors holding the allocation table: 109 in the header, the rest in a chain.
    std::vector<std::uint32_t> fatSectors;
    for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i) {
        std::uint32_t s = 0;
        if (!u32(0x4C + 4 * std::uint64_t(i), &s))
            return false;
        fatSectors.push_back(s);
    }
    std::uint32_t difat = firstDifat;
    for (std::uint32_t n = 0; n < difatCount && difat <= kMaxRegular && fatSectors.size() < fatCount; ++n) {
        const std::uint64_t base = sectorOffset(difat);
        const std::uint64_t perSector = sectorSize / 4 - 1;
        for (std::uint64_t i = 0; i < perSector && fatSectors.size() < fatCount; ++i) {
            std::uint32_t s = 0;
            if (!u32(base + 4 * i, &s))
                return false;
            fatSectors.push_back(s);
        }
        if (!u32(base + 4 * perSector, &difat))
            return false;
    }
    for (const std::uint32_t s : fatSectors) {
        const std::uint64_t base = sectorOffset(s);
        for (std::uint64_t i = 0; i < sectorSize / 4; ++i) {
            std::uint32_t entry = 0;
            if (!u32(base + 4 * i, &entry))
                return false;
            m_fat.push_back(entry);
        }
    }

    m_directory = readChain(m_fat, firstDir, std::uint64_t(m_data.size()), std::size_t(m_data.size()), false);
    if (m_directory.size() < 128)
        return false;
    // The root entry's stream is the container of the small streams.
    std::uint32_t rootStart = 0;
    std::uint32_t rootSizeLow = 0;
    std::memcpy(&rootStart, m_directory.constData() + 0x74, 4);
    std::memcpy(&rootSizeLow, m_directory.constData() + 0x78, 4);
    if (miniFatCount > 0 && miniFatCount <= sectors) {
        const QByteArray table = readChain(m_fat, firstMiniFat, std::uint64_t(miniFatCount) * sectorSize,
                                           std::size_t(m_data.size()), false);
        for (int i = 0; i + 4 <= table.size(); i += 4) {
            std::uint32_t entry = 0;
            std::memcpy(&entry, table.constData() + i, 4);
            m_miniFat.push_back(entry);
        }
        m_miniStream = readChain(m_fat, rootStart, rootSizeLow, std::size_t(m_data.size()), false);
    }
    return true;
}

bool CompoundFile::findStream(const char* name, std::uint32_t* start, std::uint64_t* size) const
{
    const QString wanted = QString::fromLatin1(name);
    for (int at = 0; at + 128 <= m_directory.size(); at += 128) {
        const char* entry = m_directory.constData() + at;
        std::uint16_t nameBytes = 0;
        std::memcpy(&nameBytes, entry + 0x40, 2);
        const auto type = static_cast<unsigned char>(entry[0x42]);
        if (type != 2 || nameBytes < 2 || nameBytes > 64)
            continue;
        QString entryName;
        for (int i = 0; i + 1 < nameBytes - 2; i += 2) {
            const auto lo = static_cast<unsigned char>(entry[i]);
            const auto hi = static_cast<unsigned char>(entry[i + 1]);
            entryName.append(QChar(char16_t(lo | (hi << 8))));
        }
        if (entryName.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        std::memcpy(start, entry + 0x74, 4);
        std::memcpy(&low, entry + 0x78, 4);
        std::memcpy(&high, entry + 0x7C, 4);
        // Version 3 files may leave garbage in the high half.
        *size = m_shift == 9 ? low : (std::uint64_t(high) << 32 | low);
        return true;
    }
    return false;
}

QByteArray CompoundFile::readStream(std::uint32_t start, std::uint64_t size, std::size_t limit) const
{
    if (size < m_miniCutoff)
        return readChain(m_miniFat, start, size, limit, true);
    return readChain(m_fat, start, size, limit, false);
}

// Whether the first substream of a BIFF workbook stream (its globals) holds a FILEPASS record.
bool globalsHoldFilePass(const QByteArray& stream)
{
    const auto* p = reinterpret_cast<const unsigned char*>(stream.constData());
    const auto n = std::size_t(stream.size());
    std::size_t at = 0;
    bool first = true;
    while (at + 4 <= n) {
        const unsigned type = p[at] | (p[at + 1] << 8);
        const unsigned length = p[at + 2] | (p[at + 3] << 8);
        if (first && (type & 0xFF) != 0x09)
            return false; // not BIFF: no BOF record first
        first = false;
        if (type == 0x002F)
            return true;
        if (type == 0x000A) // EOF of the globals
            return false;
        at += 4 + length;
    }
    return false;
}

} // namespace

bool isCompoundFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(8) == QByteArray::fromRawData(kMagic, 8);
}

bool compoundFileIsEncrypted(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 512)
        return false;
    const qint64 size = file.size();
    if (size > qint64(std::numeric_limits<int>::max()))
        return false;
    uchar* mapped = file.map(0, size);
    const QByteArray data =
        mapped ? QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), int(size)) : file.readAll();
    CompoundFile compound(data);
    if (!compound.load())
        return false;
    std::uint32_t start = 0;
    std::uint64_t length = 0;
    if (compound.findStream("EncryptedPackage", &start, &length))
        return true;
    for (const char* name : {"Workbook", "Book"}) {
        if (compound.findStream(name, &start, &length))
            return globalsHoldFilePass(compound.readStream(start, length, kWorkbookHead));
    }
    return false;
}

} // namespace corvane::automation
