// The shared strings table: the texts string cells refer to by index, and the counts that
// must stay consistent when cells take new texts or give old ones up.
#pragma once

#include "xmlpart.h"

#include <QHash>
#include <QString>

#include <vector>

namespace corvane::automation::native {

class SearchPattern;

class SharedStrings : public XmlPart
{
public:
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
    // A large table is mostly <si><t>text</t></si>: the text is kept in its element rather than
    // in a node of its own, a third of the tree less.
    unsigned parseFlags() const override { return kParseFlags | pugi::parse_embed_pcdata; }

private:
    QString itemText(pugi::xml_node si) const;
    // One <t> and nothing else, not even white space before it.
    bool plainItem(pugi::xml_node si) const;
    std::string rawItemText(pugi::xml_node si) const;
    void adjustCount(long long delta);

    std::vector<pugi::xml_node> m_items;
    pugi::xml_node m_extLst;
    mutable std::vector<QString> m_texts; // decoded on first use
    mutable std::vector<bool> m_decoded;
    QHash<QString, int> m_plainIndex; // built when the first string is added
    bool m_indexed = false;
};

} // namespace corvane::automation::native
