#include "sharedstrings.h"

#include "text/searchpattern.h"
#include "xmltext.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace corvane::automation::native {

namespace {

void appendTextOf(pugi::xml_node t, std::string& raw)
{
    // Text that came first in the element is kept in the element itself (parse_embed_pcdata).
    raw += t.value();
    for (pugi::xml_node c = t.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_pcdata)
            raw += c.value();
        else if (c.type() == pugi::node_cdata) {
            // CDATA is literal: escape it so decoding gives it back unchanged.
            for (const char* p = c.value(); *p; ++p) {
                if (*p == '&')
                    raw += "&amp;";
                else
                    raw += *p;
            }
        }
    }
}

} // namespace

bool SharedStrings::afterLoad()
{
    const std::string si = name("si");
    for (pugi::xml_node n = root().child(si.c_str()); n; n = n.next_sibling(si.c_str()))
        m_items.push_back(n);
    // New entries go before the extension list; looked up once, not for every added string.
    m_extLst = child(root(), "extLst");
    m_texts.resize(m_items.size());
    m_decoded.assign(m_items.size(), false);
    return true;
}

bool SharedStrings::plainItem(pugi::xml_node si) const
{
    const pugi::xml_node first = si.first_child();
    return first && !*si.value() && name("t") == first.name() && !first.next_sibling();
}

QString SharedStrings::itemText(pugi::xml_node si) const
{
    return decodeCellText(rawItemText(si));
}

std::string SharedStrings::rawItemText(pugi::xml_node si) const
{
    const std::string t = name("t"), r = name("r");
    std::string raw;
    for (pugi::xml_node c = si.first_child(); c; c = c.next_sibling()) {
        if (t == c.name()) {
            appendTextOf(c, raw);
        } else if (r == c.name()) {
            appendTextOf(c.child(t.c_str()), raw);
        }
    }
    return raw;
}

std::vector<bool> SharedStrings::matching(const SearchPattern& pattern) const
{
    std::vector<bool> out(m_items.size(), false);
    for (size_t i = 0; i < m_items.size(); ++i)
        out[i] = pattern.mayBeIn(rawItemText(m_items[i])) && pattern.matches(text(static_cast<int>(i)));
    return out;
}

QString SharedStrings::text(int index) const
{
    if (index < 0 || index >= size())
        return {};
    const auto i = static_cast<size_t>(index);
    if (!m_decoded[i]) {
        m_texts[i] = itemText(m_items[i]);
        m_decoded[i] = true;
    }
    return m_texts[i];
}

int SharedStrings::add(const QString& text)
{
    if (!m_indexed) {
        for (size_t i = 0; i < m_items.size(); ++i) {
            // Only entries without runs are plain; the same text with formatting is another entry.
            if (plainItem(m_items[i]))
                m_plainIndex.insert(this->text(static_cast<int>(i)), static_cast<int>(i));
        }
        m_indexed = true;
    }
    auto it = m_plainIndex.constFind(text);
    if (it != m_plainIndex.constEnd()) {
        adjustCount(1);
        return it.value();
    }
    pugi::xml_node si = m_extLst ? root().insert_child_before(name("si").c_str(), m_extLst)
                                 : root().append_child(name("si").c_str());
    pugi::xml_node t = si.append_child(name("t").c_str());
    if (!text.isEmpty() &&
        (text.front().isSpace() || text.back().isSpace() || text.contains(QLatin1Char('\n'))))
        t.append_attribute("xml:space").set_value("preserve");
    const std::string encoded = encodeCellText(text);
    t.append_child(pugi::node_pcdata).set_value(encoded.c_str());
    const int index = size();
    m_items.push_back(si);
    m_texts.push_back(text);
    m_decoded.push_back(true);
    m_plainIndex.insert(text, index);
    if (pugi::xml_attribute u = root().attribute("uniqueCount"))
        u.set_value(std::to_string(m_items.size()).c_str());
    adjustCount(1);
    setDirty();
    return index;
}

bool SharedStrings::isPlain(int index) const
{
    if (index < 0 || index >= size())
        return false;
    return plainItem(m_items[static_cast<size_t>(index)]);
}

void SharedStrings::setText(int index, const QString& text)
{
    if (!isPlain(index))
        return;
    const auto i = static_cast<size_t>(index);
    if (m_indexed) {
        const QString old = this->text(index);
        if (m_plainIndex.value(old, -1) == index)
            m_plainIndex.remove(old);
        if (!m_plainIndex.contains(text))
            m_plainIndex.insert(text, index);
    }
    pugi::xml_node t = m_items[i].first_child();
    while (t.first_child())
        t.remove_child(t.first_child());
    t.remove_attribute("xml:space");
    if (!text.isEmpty() &&
        (text.front().isSpace() || text.back().isSpace() || text.contains(QLatin1Char('\n'))))
        t.append_attribute("xml:space").set_value("preserve");
    const std::string encoded = encodeCellText(text);
    // Into the element's own text when it holds one, else a text node of its own.
    t.text().set(encoded.c_str());
    m_texts[i] = text;
    m_decoded[i] = true;
    setDirty();
}

void SharedStrings::release()
{
    adjustCount(-1);
}

void SharedStrings::adjustCount(long long delta)
{
    pugi::xml_attribute count = root().attribute("count");
    if (!count)
        return;
    // An unsigned 32-bit number; one outside that range says nothing that could be kept true.
    constexpr long long kMaxCount = 4294967295LL;
    const long long value = boundedInteger(count.value(), 0, kMaxCount, -1);
    if (value < 0)
        return;
    count.set_value(std::to_string(std::clamp(value + delta, 0LL, kMaxCount)).c_str());
    setDirty();
}

} // namespace corvane::automation::native
