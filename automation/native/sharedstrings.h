// The shared strings table: the texts string cells refer to by index, and the counts that
// must stay consistent when cells take new texts or give old ones up.
// The entries (the bulk of the part) stay as raw text with an index of where each <si> lies; an
// entry is parsed only when it is edited, and an edited or added entry replaces its own bytes
// when the part is written. The root element with its counts is an ordinary tree.
#pragma once

#include "xmlpart.h"

#include <QHash>
#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::automation::native {

class SearchPattern;

class SharedStrings : public XmlPart
{
public:
    bool load(const std::string& partName, std::string data) override;
    std::string serialize() const override;

    int size() const { return static_cast<int>(m_items.size()); }
    // The text of an entry (rich text runs joined, phonetic hints left out); "" out of range.
    QString text(int index) const;
    // The index of a plain entry with this text, appended when there is none; counts one more use.
    int add(const QString& text);
    // A cell gave up its reference to an entry.
    void release();
    // Whether the entry is one text without runs or phonetic hints.
    bool isPlain(int index) const;
    // Gives a plain entry another text, for every cell that refers to it.
    void setText(int index, const QString& text);
    // Which entries' texts match `pattern`, by index; only entries whose stored text may hold
    // it are decoded.
    std::vector<bool> matching(const SearchPattern& pattern) const;

protected:
    bool afterLoad() override;

private:
    // Twelve bytes: a large table has millions of entries.
    struct Item
    {
        std::uint32_t begin = 0; // byte span of the <si> element in m_content; empty when added
        std::uint32_t end = 0;
        int edit = -1; // index of the text that replaces the span, -1 when unchanged
    };

    bool indexEntries();
    bool checkWellFormed();
    std::string_view itemXml(std::size_t index) const;
    // Appends an entry's raw character data (as stored, references undecoded) to `raw`, and
    // tells whether the entry is plain: its only child a <t>.
    bool scanItem(std::string_view xml, std::string* raw) const;
    // Parses one entry into the scratch tree (valid until the next parse).
    pugi::xml_node parseItem(std::string_view xml) const;
    void storeEdit(std::size_t index, pugi::xml_node si);
    void adjustCount(long long delta);

    std::string m_content;        // raw text between the root's start and end tags
    std::size_t m_contentAt = 0;  // where m_content began in the part
    std::uint32_t m_insertAt = 0; // where added entries go: before the extension list
    std::vector<Item> m_items;
    std::vector<std::string> m_edits;
    std::string m_si, m_t, m_r, m_extLst; // element names as this part spells them
    mutable pugi::xml_document m_scratch;
    mutable std::vector<QString> m_texts; // decoded on first use
    mutable std::vector<bool> m_decoded;
    QHash<QString, int> m_plainIndex; // built when the first string is added
    bool m_indexed = false;
};

} // namespace corvane::automation::native
