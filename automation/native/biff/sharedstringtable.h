// The shared string table of a binary workbook (SST with its CONTINUE records, and EXTSST).
// Strings the edits need are appended after the existing ones, which keep their bytes and
// indexes; only the table's last record grows, CONTINUE records follow, and EXTSST is rebuilt.
#pragma once

#include "records.h"

#include <QHash>
#include <QString>

#include <vector>

namespace corvane::automation::native::biff {

// Reads an XLUnicodeString (16-bit count when `wideCount`, else 8-bit) at `at` of one record's
// body; false when it runs past the body.
bool readUnicodeString(const QByteArray& body, int at, bool wideCount, QString* text, int* end = nullptr);

class SharedStringTable
{
public:
    // Reads the table whose SST record is records[sst]; false with `error` when it is damaged.
    bool parse(const std::vector<Record>& records, std::size_t sst, QString* error);

    int count() const { return int(m_texts.size()); }
    const QString& text(int index) const { return m_texts[std::size_t(index)]; }

    // The index of a plain string with this text, added when the table has none; -1 when the
    // table cannot take one (it holds bytes beyond the strings it counts, which a reader would
    // take for the new string).
    int indexOf(const QString& text);
    // The total of cell references the table header counts, moved by `delta`.
    void countReferences(int delta) { m_totalDelta += delta; }
    bool changed() const { return m_added > 0 || m_totalDelta != 0; }

    // The table's records as they are to be written, in place of records[sst] and its CONTINUE
    // records; and the EXTSST that goes with them, for a table that starts at stream position
    // `sstPosition`.
    std::vector<Record> tableRecords() const;
    Record extSst(std::uint32_t sstPosition) const;

    std::size_t firstRecord() const { return m_first; }
    std::size_t recordCount() const { return m_chain.size(); }

private:
    std::size_t m_first = 0;
    std::vector<QByteArray> m_chain; // SST body, then each CONTINUE body
    std::vector<QString> m_texts;
    std::vector<bool> m_plain;        // no formatting runs nor phonetic data
    QHash<QString, int> m_plainIndex; // built on first use
    bool m_indexed = false;
    bool m_appendable = true;
    int m_added = 0;
    int m_totalDelta = 0;
};

} // namespace corvane::automation::native::biff
