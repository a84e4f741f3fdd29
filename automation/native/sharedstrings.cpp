#include "sharedstrings.h"

#include "text/searchpattern.h"
#include "xmlelement.h"
#include "xmltext.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace corvane::automation::native {

namespace {

// Stands for the entries inside the tree of the root element. Not XML text (U+0001), and a part
// that holds it is refused, so it is found only where it was put.
const char* const kEntriesPlaceholder = "\x01corvane-shared-strings\x01";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

enum class Token
{
    Text,
    Open,
    Empty,
    Close,
    Cdata,
    Other,
    Bad
};

struct Lexeme
{
    Token kind = Token::Bad;
    std::size_t end = 0;
    std::string_view name; // of a start, empty-element or end tag
};

// The markup or character data starting at s[pos], read without a tree: tags with their
// quoted attribute values, comments, CDATA sections and processing instructions.
Lexeme nextLexeme(std::string_view s, std::size_t pos)
{
    const auto closedBy = [&](std::size_t from, const char* close, Token kind) {
        const std::size_t e = s.find(close, from);
        return e == std::string_view::npos ? Lexeme{} : Lexeme{kind, e + std::strlen(close), {}};
    };
    if (s[pos] != '<') {
        const std::size_t e = s.find('<', pos);
        return {Token::Text, e == std::string_view::npos ? s.size() : e, {}};
    }
    const char second = pos + 1 < s.size() ? s[pos + 1] : '\0';
    if (second == '!' || second == '?') {
        if (s.compare(pos, 4, "<!--") == 0)
            return closedBy(pos + 4, "-->", Token::Other);
        if (s.compare(pos, 9, "<![CDATA[") == 0)
            return closedBy(pos + 9, "]]>", Token::Cdata);
        if (second == '?')
            return closedBy(pos + 2, "?>", Token::Other);
        return {}; // a document type inside an element
    }
    const bool closing = s.compare(pos, 2, "</") == 0;
    std::size_t i = pos + (closing ? 2 : 1);
    const std::size_t nameBegin = i;
    while (i < s.size() && !isBlank(s[i]) && s[i] != '>' && s[i] != '/' && s[i] != '<')
        ++i;
    const std::string_view name = s.substr(nameBegin, i - nameBegin);
    if (name.empty())
        return {};
    if (closing) {
        while (i < s.size() && isBlank(s[i]))
            ++i;
        return i < s.size() && s[i] == '>' ? Lexeme{Token::Close, i + 1, name} : Lexeme{};
    }
    bool selfClosing = false;
    const std::size_t end = tagEnd(s, i - 1, selfClosing);
    if (end == std::string_view::npos)
        return {};
    return {selfClosing ? Token::Empty : Token::Open, end, name};
}

// Character data of a CDATA section as it would be stored raw: decoding gives it back unchanged.
void appendCdata(std::string_view lexeme, std::string& raw)
{
    for (const char c : lexeme.substr(9, lexeme.size() - 12)) {
        if (c == '&')
            raw += "&amp;";
        else
            raw += c;
    }
}

bool needsPreserve(const QString& text)
{
    return !text.isEmpty() &&
           (text.front().isSpace() || text.back().isSpace() || text.contains(QLatin1Char('\n')));
}

// Skips white space, comments and processing instructions before the root element.
std::size_t skipProlog(const std::string& s)
{
    std::size_t i = s.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (;;) {
        while (i < s.size() && isBlank(s[i]))
            ++i;
        const char* close = s.compare(i, 4, "<!--") == 0 ? "-->"
                            : s.compare(i, 2, "<?") == 0 ? "?>"
                                                         : nullptr;
        if (!close)
            return i;
        const std::size_t e = s.find(close, i + 2);
        if (e == std::string::npos)
            return std::string::npos;
        i = e + std::strlen(close);
    }
}

} // namespace

bool SharedStrings::load(const std::string& partName, std::string data)
{
    // The entries are cut out before the rest is parsed as a tree.
    if (!toUtf8(partName, data, m_error))
        return false;
    if (data.find(kEntriesPlaceholder) != std::string::npos) {
        m_error =
            QStringLiteral("damaged: %1 holds control characters").arg(QString::fromStdString(partName));
        return false;
    }
    const std::size_t start = skipProlog(data);
    if (start == std::string::npos || start >= data.size() || data.compare(start, 2, "<!") == 0)
        return XmlPart::load(partName, std::move(data)); // refused there, with the reason
    const Lexeme root = nextLexeme(data, start);
    if (root.kind != Token::Open && root.kind != Token::Empty)
        return XmlPart::load(partName, std::move(data));
    const std::string rootName(root.name);
    std::string shell;
    if (root.kind == Token::Empty) {
        // No entries yet: the root is opened so that added ones have a place.
        const std::size_t slash = data.rfind('/', root.end - 1);
        shell =
            data.substr(0, slash) + '>' + kEntriesPlaceholder + "</" + rootName + '>' + data.substr(root.end);
        m_contentAt = root.end;
    } else {
        std::size_t close = data.rfind("</" + rootName);
        if (close != std::string::npos && close >= root.end) {
            const Lexeme end = nextLexeme(data, close);
            if (end.kind != Token::Close || end.name != rootName)
                close = std::string::npos;
        }
        if (close == std::string::npos || close < root.end)
            return XmlPart::load(partName, std::move(data));
        shell.reserve(root.end + (data.size() - close) + 64);
        shell.append(data, 0, root.end);
        shell += kEntriesPlaceholder;
        shell.append(data, close, std::string::npos);
        m_contentAt = root.end;
        // Cut out in place: a copy would hold the entries twice at once.
        data.resize(close);
        data.erase(0, root.end);
        m_content = std::move(data);
    }
    return XmlPart::load(partName, std::move(shell));
}

bool SharedStrings::afterLoad()
{
    const pugi::xml_node placeholder = root().first_child();
    if (placeholder.type() != pugi::node_pcdata ||
        std::strcmp(placeholder.value(), kEntriesPlaceholder) != 0 || placeholder.next_sibling()) {
        m_error = QStringLiteral("damaged: malformed XML in %1").arg(QString::fromStdString(partName()));
        return false;
    }
    if (m_content.size() >= UINT32_MAX) {
        m_error = QStringLiteral("unsupported: %1 is too large").arg(QString::fromStdString(partName()));
        return false;
    }
    m_si = name("si");
    m_t = name("t");
    m_r = name("r");
    m_extLst = name("extLst");
    if (!indexEntries() || !checkWellFormed()) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("damaged: malformed XML in %1").arg(QString::fromStdString(partName()));
        return false;
    }
    m_texts.resize(m_items.size());
    m_decoded.assign(m_items.size(), false);
    return true;
}

bool SharedStrings::indexEntries()
{
    const std::string_view s = m_content;
    // Room for the count the table declares, within what its bytes can hold.
    const long long declared =
        boundedInteger(root().attribute("uniqueCount").value(), 0, static_cast<long long>(s.size() / 5), 0);
    m_items.reserve(static_cast<std::size_t>(declared));
    std::vector<std::string_view> open;
    bool insertAtFound = false;
    std::size_t itemBegin = 0;
    for (std::size_t pos = 0; pos < s.size();) {
        const Lexeme l = nextLexeme(s, pos);
        switch (l.kind) {
        case Token::Bad:
            return false;
        case Token::Open:
        case Token::Empty:
            if (open.empty()) {
                if (l.name == m_si) {
                    itemBegin = pos;
                    if (l.kind == Token::Empty)
                        m_items.push_back(
                            {static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(l.end)});
                } else if (l.name == m_extLst && !insertAtFound) {
                    // New entries go before the extension list, as the schema orders them.
                    m_insertAt = static_cast<std::uint32_t>(pos);
                    insertAtFound = true;
                }
            }
            if (l.kind == Token::Open)
                open.push_back(l.name);
            break;
        case Token::Close:
            if (open.empty() || open.back() != l.name)
                return false;
            open.pop_back();
            if (open.empty() && l.name == m_si)
                m_items.push_back({static_cast<std::uint32_t>(itemBegin), static_cast<std::uint32_t>(l.end)});
            break;
        default:
            break;
        }
        pos = l.end;
    }
    if (!insertAtFound)
        m_insertAt = static_cast<std::uint32_t>(s.size());
    m_items.shrink_to_fit();
    return open.empty();
}

bool SharedStrings::checkWellFormed()
{
    // Parsed a slice of whole entries at a time: as thorough as a tree of the whole part, without
    // ever holding one.
    constexpr std::size_t kSlice = std::size_t(1) << 20;
    pugi::xml_document doc;
    std::size_t from = 0;
    auto item = m_items.begin();
    while (from < m_content.size()) {
        item = std::lower_bound(item, m_items.end(), from + kSlice,
                                [](const Item& i, std::size_t at) { return i.end < at; });
        const std::size_t to = item == m_items.end() ? m_content.size() : item->end;
        const pugi::xml_parse_result result = doc.load_buffer(
            m_content.data() + from, to - from, kParseFlags | pugi::parse_fragment, pugi::encoding_utf8);
        if (!result) {
            m_error = QStringLiteral("damaged: malformed XML in %1 (%2 at offset %3)")
                          .arg(QString::fromStdString(partName()), QString::fromUtf8(result.description()))
                          .arg(m_contentAt + from + static_cast<std::size_t>(result.offset));
            return false;
        }
        from = to;
    }
    return true;
}

std::string_view SharedStrings::itemXml(std::size_t index) const
{
    const Item& item = m_items[index];
    if (item.edit >= 0)
        return m_edits[static_cast<std::size_t>(item.edit)];
    return std::string_view(m_content).substr(item.begin, item.end - item.begin);
}

bool SharedStrings::scanItem(std::string_view xml, std::string* raw) const
{
    // The common entry, <si><t>text</t></si>, read at once.
    const std::size_t textAt = m_si.size() + m_t.size() + 4;
    if (raw && xml.size() > textAt && xml[0] == '<' && xml.compare(1, m_si.size(), m_si) == 0 &&
        xml.compare(1 + m_si.size(), 2, "><") == 0 && xml.compare(3 + m_si.size(), m_t.size(), m_t) == 0 &&
        xml[textAt - 1] == '>') {
        const std::size_t lt = xml.find('<', textAt);
        const std::string tail = "</" + m_t + "></" + m_si + ">";
        if (lt != std::string_view::npos && xml.compare(lt, std::string_view::npos, tail) == 0) {
            raw->append(xml.data() + textAt, lt - textAt);
            return true;
        }
    }
    // The text of each <t> that is a child of the entry or the first <t> of one of its runs
    // <r>; phonetic hints and anything else left out. Plain: one child, and it is a <t>.
    Lexeme l = nextLexeme(xml, 0);
    if (l.kind != Token::Open)
        return false;
    int depth = 0;       // elements open inside the entry
    int collecting = -1; // the depth whose character data is the entry's text
    bool inRun = false, runHasText = false;
    int children = 0;
    bool firstIsText = false;
    for (std::size_t pos = l.end; pos < xml.size(); pos = l.end) {
        l = nextLexeme(xml, pos);
        if (l.kind == Token::Bad)
            break;
        if (depth == 0 && l.kind != Token::Close && ++children == 1)
            firstIsText = (l.kind == Token::Open || l.kind == Token::Empty) && l.name == m_t;
        if (l.kind == Token::Open) {
            ++depth;
            if (depth == 1 && l.name == m_t) {
                collecting = 1;
            } else if (depth == 1 && l.name == m_r) {
                inRun = true;
                runHasText = false;
            } else if (depth == 2 && inRun && l.name == m_t && !runHasText) {
                runHasText = true;
                collecting = 2;
            }
        } else if (l.kind == Token::Empty) {
            if (depth == 1 && inRun && l.name == m_t)
                runHasText = true;
        } else if (l.kind == Token::Close) {
            if (depth == 0)
                break;
            if (depth == collecting)
                collecting = -1;
            if (depth == 1)
                inRun = false;
            --depth;
        } else if (raw && depth == collecting) {
            if (l.kind == Token::Text)
                raw->append(xml.data() + pos, l.end - pos);
            else if (l.kind == Token::Cdata)
                appendCdata(xml.substr(pos, l.end - pos), *raw);
        }
    }
    return children == 1 && firstIsText;
}

pugi::xml_node SharedStrings::parseItem(std::string_view xml) const
{
    if (!m_scratch.load_buffer(xml.data(), xml.size(), kParseFlags | pugi::parse_embed_pcdata,
                               pugi::encoding_utf8))
        return {};
    return m_scratch.document_element();
}

void SharedStrings::storeEdit(std::size_t index, pugi::xml_node si)
{
    Item& item = m_items[index];
    if (item.edit < 0) {
        item.edit = static_cast<int>(m_edits.size());
        m_edits.push_back(print(si));
    } else {
        m_edits[static_cast<std::size_t>(item.edit)] = print(si);
    }
    setDirty();
}

std::vector<bool> SharedStrings::matching(const SearchPattern& pattern) const
{
    std::vector<bool> out(m_items.size(), false);
    std::string raw;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        raw.clear();
        scanItem(itemXml(i), &raw);
        out[i] = pattern.mayBeIn(raw) && pattern.matches(text(static_cast<int>(i)));
    }
    return out;
}

QString SharedStrings::text(int index) const
{
    if (index < 0 || index >= size())
        return {};
    const auto i = static_cast<std::size_t>(index);
    if (!m_decoded[i]) {
        std::string raw;
        scanItem(itemXml(i), &raw);
        m_texts[i] = decodeCellText(raw);
        m_decoded[i] = true;
    }
    return m_texts[i];
}

int SharedStrings::add(const QString& text)
{
    if (!m_indexed) {
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            // Only entries without runs are plain; the same text with formatting is another entry.
            if (scanItem(itemXml(i), nullptr))
                m_plainIndex.insert(this->text(static_cast<int>(i)), static_cast<int>(i));
        }
        m_indexed = true;
    }
    auto it = m_plainIndex.constFind(text);
    if (it != m_plainIndex.constEnd()) {
        adjustCount(1);
        return it.value();
    }
    m_scratch.reset();
    pugi::xml_node si = m_scratch.append_child(m_si.c_str());
    pugi::xml_node t = si.append_child(m_t.c_str());
    if (needsPreserve(text))
        t.append_attribute("xml:space").set_value("preserve");
    const std::string encoded = encodeCellText(text);
    t.append_child(pugi::node_pcdata).set_value(encoded.c_str());
    const int index = size();
    m_items.push_back({});
    storeEdit(m_items.size() - 1, si);
    m_texts.push_back(text);
    m_decoded.push_back(true);
    m_plainIndex.insert(text, index);
    if (pugi::xml_attribute u = root().attribute("uniqueCount"))
        u.set_value(std::to_string(m_items.size()).c_str());
    adjustCount(1);
    return index;
}

bool SharedStrings::isPlain(int index) const
{
    if (index < 0 || index >= size())
        return false;
    return scanItem(itemXml(static_cast<std::size_t>(index)), nullptr);
}

void SharedStrings::setText(int index, const QString& text)
{
    if (!isPlain(index))
        return;
    const auto i = static_cast<std::size_t>(index);
    pugi::xml_node si = parseItem(itemXml(i));
    if (!si)
        return;
    if (m_indexed) {
        const QString old = this->text(index);
        if (m_plainIndex.value(old, -1) == index)
            m_plainIndex.remove(old);
        if (!m_plainIndex.contains(text))
            m_plainIndex.insert(text, index);
    }
    pugi::xml_node t = si.first_child();
    while (t.first_child())
        t.remove_child(t.first_child());
    t.remove_attribute("xml:space");
    if (needsPreserve(text))
        t.append_attribute("xml:space").set_value("preserve");
    const std::string encoded = encodeCellText(text);
    // Into the element's own text when it holds one, else a text node of its own.
    t.text().set(encoded.c_str());
    storeEdit(i, si);
    m_texts[i] = text;
    m_decoded[i] = true;
}

std::string SharedStrings::serialize() const
{
    const std::string shell = XmlPart::serialize();
    const std::size_t at = shell.find(kEntriesPlaceholder);
    if (at == std::string::npos)
        return shell;
    std::size_t size = shell.size() + m_content.size();
    for (const std::string& e : m_edits)
        size += e.size();
    std::string out;
    out.reserve(size);
    out.append(shell, 0, at);
    std::size_t from = 0;
    bool addedWritten = false;
    const auto writeAdded = [&] {
        out.append(m_content, from, m_insertAt - from);
        from = m_insertAt;
        for (const Item& item : m_items) {
            if (item.begin == item.end)
                out += m_edits[static_cast<std::size_t>(item.edit)];
        }
        addedWritten = true;
    };
    for (const Item& item : m_items) {
        if (item.edit < 0 || item.begin == item.end)
            continue;
        if (!addedWritten && m_insertAt <= item.begin)
            writeAdded();
        out.append(m_content, from, item.begin - from);
        out += m_edits[static_cast<std::size_t>(item.edit)];
        from = item.end;
    }
    if (!addedWritten)
        writeAdded();
    out.append(m_content, from, std::string::npos);
    out.append(shell, at + std::strlen(kEntriesPlaceholder), std::string::npos);
    return out;
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
