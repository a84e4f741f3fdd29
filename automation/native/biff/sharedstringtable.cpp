#include "sharedstringtable.h"

namespace corvane::automation::native::biff {

namespace {

// Reads across the bodies of SST and its CONTINUE records; every read is bounded by them.
class ChainReader
{
public:
    explicit ChainReader(const std::vector<QByteArray>& chain) : m_chain(chain) {}

    bool atEnd()
    {
        skipExhausted();
        return m_record >= m_chain.size();
    }
    int record() const { return int(m_record); }
    int offset() const { return m_at; }
    // Moves past records that are used up, so that position is where the next byte is.
    void skipExhausted()
    {
        while (m_record < m_chain.size() && m_at >= m_chain[m_record].size()) {
            ++m_record;
            m_at = 0;
        }
    }
    bool bytes(int n, QByteArray* out)
    {
        while (n > 0) {
            skipExhausted();
            if (m_record >= m_chain.size())
                return false;
            const int take = std::min(n, m_chain[m_record].size() - m_at);
            if (out)
                out->append(m_chain[m_record].constData() + m_at, take);
            m_at += take;
            n -= take;
        }
        return true;
    }
    bool u8(unsigned* v)
    {
        QByteArray b;
        if (!bytes(1, &b))
            return false;
        *v = static_cast<unsigned char>(b[0]);
        return true;
    }
    bool u16(unsigned* v)
    {
        QByteArray b;
        if (!bytes(2, &b))
            return false;
        *v = le16(b, 0);
        return true;
    }
    bool u32(std::uint32_t* v)
    {
        QByteArray b;
        if (!bytes(4, &b))
            return false;
        *v = le32(b, 0);
        return true;
    }
    // `count` characters; where a record ends inside them, the next starts with a byte telling
    // whether the rest is stored in one or two bytes a character.
    bool chars(unsigned count, bool wide, QString* out)
    {
        out->reserve(int(count));
        while (count > 0) {
            if (m_record >= m_chain.size())
                return false;
            if (m_at >= m_chain[m_record].size()) {
                ++m_record;
                m_at = 0;
                if (m_record >= m_chain.size() || m_chain[m_record].isEmpty())
                    return false;
                wide = (static_cast<unsigned char>(m_chain[m_record][0]) & 1) != 0;
                m_at = 1;
                continue;
            }
            const QByteArray& body = m_chain[m_record];
            const int size = wide ? 2 : 1;
            const int fit = (body.size() - m_at) / size;
            if (fit == 0)
                return false; // half a character before the record ends
            const int take = std::min<int>(int(count), fit);
            const auto* p = reinterpret_cast<const unsigned char*>(body.constData() + m_at);
            for (int i = 0; i < take; ++i)
                out->append(wide ? QChar(char16_t(p[2 * i] | (p[2 * i + 1] << 8))) : QChar(char16_t(p[i])));
            m_at += take * size;
            count -= unsigned(take);
        }
        return true;
    }

private:
    const std::vector<QByteArray>& m_chain;
    std::size_t m_record = 0;
    int m_at = 0;
};

bool isWide(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            return true;
    }
    return false;
}

} // namespace

bool readUnicodeString(const QByteArray& body, int at, bool wideCount, QString* text, int* end)
{
    const int head = wideCount ? 3 : 2;
    if (at < 0 || at + head > body.size())
        return false;
    const unsigned count = wideCount ? le16(body, at) : static_cast<unsigned char>(body[at]);
    const unsigned flags = static_cast<unsigned char>(body[at + head - 1]);
    const bool wide = (flags & 1) != 0;
    const int bytes = int(count) * (wide ? 2 : 1);
    if (bytes > body.size() - at - head)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(body.constData() + at + head);
    text->clear();
    text->reserve(int(count));
    for (unsigned i = 0; i < count; ++i)
        text->append(wide ? QChar(char16_t(p[2 * i] | (p[2 * i + 1] << 8))) : QChar(char16_t(p[i])));
    if (end)
        *end = at + head + bytes;
    return true;
}

bool SharedStringTable::parse(const std::vector<Record>& records, std::size_t sst, QString* error)
{
    m_first = sst;
    m_chain.clear();
    m_texts.clear();
    m_plain.clear();
    for (std::size_t i = sst; i < records.size(); ++i) {
        if (i != sst && records[i].type != rt::kContinue)
            break;
        m_chain.push_back(records[i].data);
    }
    if (m_chain.front().size() < 8) {
        *error = QStringLiteral("damaged: the shared string table is cut short");
        return false;
    }
    const std::uint32_t unique = le32(m_chain.front(), 4);
    ChainReader reader(m_chain);
    QByteArray skip;
    reader.bytes(8, &skip);
    for (std::uint32_t n = 0; n < unique && !reader.atEnd(); ++n) {
        unsigned count = 0;
        unsigned flags = 0;
        unsigned runs = 0;
        std::uint32_t ext = 0;
        QString text;
        const bool ok = reader.u16(&count) && reader.u8(&flags) && (!(flags & 0x08) || reader.u16(&runs)) &&
                        (!(flags & 0x04) || reader.u32(&ext)) && reader.chars(count, flags & 1, &text) &&
                        reader.bytes(int(runs) * 4, nullptr) && ext <= 0x7FFFFFFF &&
                        reader.bytes(int(ext), nullptr);
        if (!ok) {
            *error = QStringLiteral("damaged: string %1 of the shared string table runs past its end").arg(n);
            return false;
        }
        m_texts.push_back(std::move(text));
        m_plain.push_back(!(flags & 0x0C));
    }
    m_appendable = reader.atEnd();
    return true;
}

int SharedStringTable::indexOf(const QString& text)
{
    if (!m_indexed) {
        for (int i = int(m_texts.size()) - 1; i >= 0; --i) {
            if (m_plain[std::size_t(i)])
                m_plainIndex.insert(m_texts[std::size_t(i)], i);
        }
        m_indexed = true;
    }
    if (const auto it = m_plainIndex.constFind(text); it != m_plainIndex.constEnd())
        return it.value();
    if (!m_appendable)
        return -1;
    m_texts.push_back(text);
    m_plain.push_back(true);
    const int index = int(m_texts.size()) - 1;
    m_plainIndex.insert(text, index);
    ++m_added;
    return index;
}

std::vector<Record> SharedStringTable::tableRecords() const
{
    std::vector<QByteArray> chain = m_chain;
    std::vector<std::pair<int, int>> starts;
    const std::size_t firstNew = m_texts.size() - std::size_t(m_added);
    for (std::size_t i = firstNew; i < m_texts.size(); ++i) {
        const QString& text = m_texts[i];
        const bool wide = isWide(text);
        const int size = wide ? 2 : 1;
        // A string's header never straddles two records: it starts a new one when it and its
        // first character do not fit.
        if (kMaxRecordData - chain.back().size() < 3 + size)
            chain.emplace_back();
        QByteArray* body = &chain.back();
        append16(*body, std::uint32_t(text.size()));
        body->append(char(wide ? 1 : 0));
        for (int c = 0; c < text.size(); ++c) {
            if (kMaxRecordData - body->size() < size) {
                chain.emplace_back();
                body = &chain.back();
                body->append(char(wide ? 1 : 0));
            }
            if (wide)
                append16(*body, text[c].unicode());
            else
                body->append(char(text[c].unicode()));
        }
    }
    QByteArray& head = chain.front();
    const long long total = std::max<long long>(0, (long long)le32(head, 0) + m_totalDelta);
    put32(head, 0, std::uint32_t(std::min<long long>(total, 0xFFFFFFFFLL)));
    put32(head, 4, std::uint32_t(m_texts.size()));
    std::vector<Record> out;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        Record r;
        r.type = i == 0 ? rt::kSst : rt::kContinue;
        r.data = chain[i];
        out.push_back(std::move(r));
    }
    return out;
}

Record SharedStringTable::extSst(std::uint32_t sstPosition) const
{
    // Where each string starts, found by reading the table as it will be written.
    const std::vector<Record> table = tableRecords();
    std::vector<QByteArray> chain;
    std::vector<std::uint32_t> recordAt;
    std::uint32_t at = sstPosition;
    for (const Record& r : table) {
        chain.push_back(r.data);
        recordAt.push_back(at);
        at += 4 + std::uint32_t(r.data.size());
    }
    ChainReader reader(chain);
    reader.bytes(8, nullptr);
    const int strings = int(m_texts.size());
    const int perBucket = std::max(8, (strings + 127) / 128);
    Record ext;
    ext.type = rt::kExtSst;
    append16(ext.data, std::uint32_t(perBucket));
    for (int n = 0; n < strings && !reader.atEnd(); ++n) {
        if (n % perBucket == 0) {
            append32(ext.data, recordAt[std::size_t(reader.record())] + 4 + std::uint32_t(reader.offset()));
            append16(ext.data, 4 + std::uint32_t(reader.offset()));
            append16(ext.data, 0);
        }
        unsigned count = 0, flags = 0, runs = 0;
        std::uint32_t extSize = 0;
        QString text;
        if (!(reader.u16(&count) && reader.u8(&flags) && (!(flags & 0x08) || reader.u16(&runs)) &&
              (!(flags & 0x04) || reader.u32(&extSize)) && reader.chars(count, flags & 1, &text) &&
              reader.bytes(int(runs) * 4, nullptr) && reader.bytes(int(extSize), nullptr)))
            break;
    }
    return ext;
}

} // namespace corvane::automation::native::biff
