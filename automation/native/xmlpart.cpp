#include "xmlpart.h"

#include <cstring>

namespace corvane::automation::native {

namespace {

constexpr unsigned kWriteFlags = pugi::format_raw | pugi::format_no_declaration | pugi::format_no_escapes;

struct StringWriter : pugi::xml_writer
{
    std::string& out;
    explicit StringWriter(std::string& s) : out(s) {}
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

// Offset of the root element's "<" in UTF-8 text: after the byte order mark, the declaration,
// comments, processing instructions and whitespace.
size_t rootStart(const std::string& s)
{
    size_t i = s.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (i < s.size()) {
        if (s[i] == '<') {
            if (s.compare(i, 2, "<?") == 0) {
                const size_t e = s.find("?>", i + 2);
                if (e == std::string::npos)
                    return std::string::npos;
                i = e + 2;
            } else if (s.compare(i, 4, "<!--") == 0) {
                const size_t e = s.find("-->", i + 4);
                if (e == std::string::npos)
                    return std::string::npos;
                i = e + 3;
            } else if (s.compare(i, 9, "<!DOCTYPE") == 0) {
                // Refused after parsing, which reports the document type; the bomb is never expanded.
                return i;
            } else {
                return i;
            }
        } else if (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n') {
            ++i;
        } else {
            return std::string::npos;
        }
    }
    return std::string::npos;
}

} // namespace

// Raw character data and attribute values, original line ends and whitespace-only text.
const unsigned XmlPart::kParseFlags = pugi::parse_cdata | pugi::parse_ws_pcdata | pugi::parse_comments |
                                      pugi::parse_pi | pugi::parse_declaration | pugi::parse_doctype;

std::string XmlPart::print(pugi::xml_node node)
{
    std::string out;
    StringWriter writer(out);
    node.print(writer, "", kWriteFlags, pugi::encoding_utf8);
    return out;
}

bool XmlPart::load(const std::string& partName, std::string data)
{
    m_partName = partName;
    m_buffer = std::move(data);
    const auto& b = m_buffer;
    m_utf16 = b.size() >= 2 && ((b[0] == '\xFF' && b[1] == '\xFE') || (b[0] == '\xFE' && b[1] == '\xFF') ||
                                (b[0] == '<' && b[1] == '\0') || (b[0] == '\0' && b[1] == '<'));
    pugi::xml_parse_result result;
    if (m_utf16) {
        result = m_doc.load_buffer(m_buffer.data(), m_buffer.size(), kParseFlags);
    } else {
        const size_t start = rootStart(m_buffer);
        if (start != std::string::npos) {
            m_head = m_buffer.substr(0, start);
            const size_t last = m_buffer.find_last_of('>');
            if (last != std::string::npos)
                m_tail = m_buffer.substr(last + 1);
        }
        result =
            m_doc.load_buffer_inplace(m_buffer.data(), m_buffer.size(), kParseFlags, pugi::encoding_utf8);
        if (result && start == std::string::npos) {
            m_error =
                QStringLiteral("damaged: %1 has no well-formed start").arg(QString::fromStdString(partName));
            return false;
        }
    }
    if (!result) {
        m_error = QStringLiteral("damaged: malformed XML in %1 (%2 at offset %3)")
                      .arg(QString::fromStdString(partName), QString::fromUtf8(result.description()))
                      .arg(result.offset);
        return false;
    }
    for (pugi::xml_node n = m_doc.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_doctype) {
            m_error = QStringLiteral("unsupported: %1 declares a document type (DTD); workbook packages may "
                                     "not, and its entities are not expanded")
                          .arg(QString::fromStdString(partName));
            return false;
        }
    }
    if (!root()) {
        m_error = QStringLiteral("damaged: %1 has no root element").arg(QString::fromStdString(partName));
        return false;
    }
    // SpreadsheetML elements carry the prefix bound to its namespace; a macro sheet's root is in
    // another namespace than its children.
    if (!prefixFor(kSpreadsheetNamespace, m_prefix)) {
        const char* rootName = root().name();
        if (const char* colon = std::strchr(rootName, ':'))
            m_prefix.assign(rootName, static_cast<size_t>(colon - rootName) + 1);
    }
    return afterLoad();
}

std::string XmlPart::serialize() const
{
    std::string out;
    out.reserve(m_buffer.size() + m_buffer.size() / 8 + 64);
    StringWriter writer(out);
    if (m_utf16) {
        m_doc.save(writer, "", kWriteFlags | pugi::format_write_bom, pugi::encoding_utf16_le);
        return out;
    }
    out += m_head;
    for (pugi::xml_node n = root(); n; n = n.next_sibling())
        n.print(writer, "", kWriteFlags, pugi::encoding_utf8);
    out += m_tail;
    return out;
}

pugi::xml_node XmlPart::child(pugi::xml_node parent, const char* local) const
{
    if (m_prefix.empty())
        return parent.child(local);
    return parent.child(name(local).c_str());
}

bool XmlPart::prefixFor(const char* ns, std::string& prefix) const
{
    for (pugi::xml_attribute a = root().first_attribute(); a; a = a.next_attribute()) {
        const char* n = a.name();
        if (std::strcmp(a.value(), ns) != 0)
            continue;
        if (std::strcmp(n, "xmlns") == 0) {
            prefix.clear();
            return true;
        }
        if (std::strncmp(n, "xmlns:", 6) == 0) {
            prefix = std::string(n + 6) + ':';
            return true;
        }
    }
    return false;
}

pugi::xml_attribute XmlPart::nsAttribute(pugi::xml_node node, const char* ns, const char* local) const
{
    std::string prefix;
    if (!prefixFor(ns, prefix) || prefix.empty()) {
        // Unbound on the root: fall back to the conventional prefix.
        return node.attribute((std::string("r:") + local).c_str());
    }
    return node.attribute((prefix + local).c_str());
}

std::string XmlPart::rootNamespace() const
{
    const std::string attr =
        m_prefix.empty() ? std::string("xmlns") : "xmlns:" + m_prefix.substr(0, m_prefix.size() - 1);
    return root().attribute(attr.c_str()).value();
}

} // namespace corvane::automation::native
