// A package part held as an XML tree. The tree keeps character data and attribute values raw
// (undecoded), so that a part written back differs from the original only where it was edited.
#pragma once

#include <QString>

#include <pugixml.hpp>

#include <string>

namespace corvane::automation::native {

constexpr const char* kSpreadsheetNamespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

class XmlPart
{
public:
    XmlPart() = default;
    virtual ~XmlPart() = default;
    XmlPart(const XmlPart&) = delete;
    XmlPart& operator=(const XmlPart&) = delete;

    // Parses `data` (taking it over). False with error() set when the part is malformed or
    // declares a document type (packages may not, and entity expansion is an attack vector).
    virtual bool load(const std::string& partName, std::string data);
    // The part as it is to be stored.
    virtual std::string serialize() const;
    // One element (with what it holds) as it is written back: raw, no indentation.
    static std::string print(pugi::xml_node node);
    // Turns a part's text into UTF-8 whatever encoding it came in (UTF-16 or UTF-32 by their
    // byte order or leading "<", another by its declaration), with the declaration saying UTF-8,
    // so that an edited part is written back consistently. False with `error` for an encoding
    // that cannot be read.
    static bool toUtf8(const std::string& partName, std::string& data, QString& error);
    // Parse options for part trees and fragments: raw texts, original line ends and whitespace.
    static const unsigned kParseFlags;

    const std::string& partName() const { return m_partName; }
    const QString& error() const { return m_error; }
    bool isDirty() const { return m_dirty; }
    void setDirty(bool dirty = true) { m_dirty = dirty; }

    pugi::xml_node root() const { return m_doc.document_element(); }
    // The element name `local` carries in this part: prefixed when the part's main namespace is
    // bound to a prefix rather than being the default namespace.
    std::string name(const char* local) const { return m_prefix + local; }
    pugi::xml_node child(pugi::xml_node parent, const char* local) const;
    // The attribute `local` in the namespace `ns` (for example r:id), whatever prefix binds it.
    pugi::xml_attribute nsAttribute(pugi::xml_node node, const char* ns, const char* local) const;
    // The prefix ("" for the default namespace) `ns` is bound to on the root, or none.
    bool prefixFor(const char* ns, std::string& prefix) const;
    // The namespace URI of the root element.
    std::string rootNamespace() const;

protected:
    // Called after a successful parse; false (with m_error) refuses the part.
    virtual bool afterLoad() { return true; }
    // How the part is parsed: kParseFlags, or more for parts that want the tree smaller.
    virtual unsigned parseFlags() const { return kParseFlags; }

    QString m_error;
    std::string m_prefix; // prefix of the root's namespace, with its colon, or empty

private:
    std::string m_partName;
    std::string m_buffer; // parsed in place: the tree points into it
    std::string m_head;   // raw text before the root element (declaration, comments)
    std::string m_tail;   // raw whitespace after the last element
    pugi::xml_document m_doc;
    bool m_dirty = false;
};

} // namespace corvane::automation::native
