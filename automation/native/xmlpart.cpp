#include "xmlpart.h"

#include "xmlelement.h"

#include <QTextCodec>

#include <cstring>
#include <string>

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

namespace {

bool startsWith(const std::string& s, const char* prefix, size_t n)
{
    return s.size() >= n && s.compare(0, n, prefix, n) == 0;
}

// Code units of a UTF-16 or UTF-32 text, in the byte order given.
QString decodeWide(const std::string& data, size_t from, int width, bool bigEndian)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(data[i]); };
    if (width == 2) {
        std::u16string units;
        units.reserve((data.size() - from) / 2);
        for (size_t i = from; i + 1 < data.size(); i += 2)
            units.push_back(static_cast<char16_t>(bigEndian ? (byte(i) << 8) | byte(i + 1)
                                                            : (byte(i + 1) << 8) | byte(i)));
        return QString::fromUtf16(units.data(), static_cast<int>(units.size()));
    }
    std::u32string units;
    units.reserve((data.size() - from) / 4);
    for (size_t i = from; i + 3 < data.size(); i += 4) {
        const char32_t u = bigEndian ? (char32_t(byte(i)) << 24) | (char32_t(byte(i + 1)) << 16) |
                                           (char32_t(byte(i + 2)) << 8) | byte(i + 3)
                                     : (char32_t(byte(i + 3)) << 24) | (char32_t(byte(i + 2)) << 16) |
                                           (char32_t(byte(i + 1)) << 8) | byte(i);
        units.push_back(u);
    }
    return QString::fromUcs4(units.data(), static_cast<int>(units.size()));
}

// The value of the declaration's encoding pseudo-attribute, with its offset and length in `s`
// (UTF-8 or another encoding that keeps ASCII as it is); false without a declaration or value.
bool declaredEncoding(const std::string& s, size_t& at, size_t& length)
{
    const size_t start = startsWith(s, "\xEF\xBB\xBF", 3) ? 3 : 0;
    if (s.compare(start, 5, "<?xml") != 0)
        return false;
    const size_t end = s.find("?>", start);
    if (end == std::string::npos)
        return false;
    size_t i = s.find("encoding", start);
    if (i == std::string::npos || i > end)
        return false;
    i += 8;
    while (i < end && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
        ++i;
    if (i >= end || s[i] != '=')
        return false;
    ++i;
    while (i < end && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
        ++i;
    if (i >= end || (s[i] != '"' && s[i] != '\''))
        return false;
    const size_t close = s.find(s[i], i + 1);
    if (close == std::string::npos || close > end)
        return false;
    at = i + 1;
    length = close - at;
    return true;
}

} // namespace

bool XmlPart::toUtf8(const std::string& partName, std::string& data, QString& error)
{
    // Wide encodings, recognised by their byte order mark or by how "<" begins the text.
    struct Wide
    {
        const char* start;
        size_t length;
        size_t skip; // the byte order mark, dropped
        int width;
        bool bigEndian;
    };
    static const Wide kWide[] = {
        {"\x00\x00\xFE\xFF", 4, 4, 4, true},
        {"\xFF\xFE\x00\x00", 4, 4, 4, false},
        {"\x00\x00\x00<", 4, 0, 4, true},
        {"<\x00\x00\x00", 4, 0, 4, false},
        {"\xFE\xFF", 2, 2, 2, true},
        {"\xFF\xFE", 2, 2, 2, false},
        {"\x00<", 2, 0, 2, true},
        {"<\x00", 2, 0, 2, false},
    };
    QString text;
    bool decoded = false;
    for (const Wide& w : kWide) {
        if (startsWith(data, w.start, w.length)) {
            text = decodeWide(data, w.skip, w.width, w.bigEndian);
            decoded = true;
            break;
        }
    }
    size_t at = 0, length = 0;
    if (!decoded && declaredEncoding(data, at, length)) {
        const QByteArray name = QByteArray::fromStdString(data.substr(at, length)).toLower();
        if (name == "utf-8" || name == "utf8")
            return true;
        // A wide encoding declared over ASCII bytes, or plain ASCII: the bytes are read as UTF-8.
        if (!name.startsWith("utf-16") && !name.startsWith("utf-32") && !name.startsWith("ucs-") &&
            name != "us-ascii" && name != "ascii") {
            QTextCodec* codec = QTextCodec::codecForName(name);
            if (!codec) {
                error = QStringLiteral("unsupported: %1 declares the encoding %2, which cannot be read")
                            .arg(QString::fromStdString(partName), QString::fromLatin1(name));
                return false;
            }
            text = codec->toUnicode(data.data(), static_cast<int>(data.size()));
            decoded = true;
        } else {
            data.replace(at, length, "UTF-8");
            return true;
        }
    }
    if (!decoded)
        return true;
    // Written back as UTF-8, so the declaration must say so.
    data = text.toStdString();
    if (declaredEncoding(data, at, length))
        data.replace(at, length, "UTF-8");
    return true;
}

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
    if (!toUtf8(partName, data, m_error))
        return false;
    m_buffer = std::move(data);
    const size_t start = rootStart(m_buffer);
    if (start != std::string::npos) {
        m_head = m_buffer.substr(0, start);
        const size_t last = m_buffer.find_last_of('>');
        if (last != std::string::npos)
            m_tail = m_buffer.substr(last + 1);
    }
    const pugi::xml_parse_result result =
        m_doc.load_buffer_inplace(m_buffer.data(), m_buffer.size(), parseFlags(), pugi::encoding_utf8);
    if (result && start == std::string::npos) {
        m_error =
            QStringLiteral("damaged: %1 has no well-formed start").arg(QString::fromStdString(partName));
        return false;
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
        if (const std::string_view prefix = namePrefix(root().name()); !prefix.empty())
            m_prefix = prefix;
    }
    return afterLoad();
}

std::string XmlPart::serialize() const
{
    std::string out;
    out.reserve(m_buffer.size() + m_buffer.size() / 8 + 64);
    StringWriter writer(out);
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
