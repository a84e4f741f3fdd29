#include "contenttypes.h"

#include <QString>

namespace corvane::automation::native {

namespace {

std::string withSlash(const std::string& name)
{
    return !name.empty() && name[0] == '/' ? name : '/' + name;
}

bool sameName(const char* a, const std::string& b)
{
    return QString::fromUtf8(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

} // namespace

std::string ContentTypes::contentType(const std::string& partName) const
{
    const std::string name = withSlash(partName);
    for (pugi::xml_node n = child(root(), "Override"); n; n = n.next_sibling(n.name())) {
        if (sameName(n.attribute("PartName").value(), name))
            return n.attribute("ContentType").value();
    }
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (pugi::xml_node n = child(root(), "Default"); n; n = n.next_sibling(n.name())) {
        if (sameName(n.attribute("Extension").value(), ext))
            return n.attribute("ContentType").value();
    }
    return {};
}

void ContentTypes::removeOverride(const std::string& partName)
{
    const std::string name = withSlash(partName);
    for (pugi::xml_node n = child(root(), "Override"); n; n = n.next_sibling(n.name())) {
        if (sameName(n.attribute("PartName").value(), name)) {
            // Drop the whitespace that indented it too, so the list keeps its layout.
            pugi::xml_node before = n.previous_sibling();
            if (before.type() == pugi::node_pcdata)
                root().remove_child(before);
            root().remove_child(n);
            setDirty();
            return;
        }
    }
}

namespace {

// The new element goes after the last one of its kind (Defaults come before Overrides), with
// the indentation the list already uses.
void insertEntry(pugi::xml_node root, pugi::xml_node after, pugi::xml_node entry)
{
    pugi::xml_node indent = after ? after.previous_sibling() : pugi::xml_node();
    pugi::xml_node placed = after ? root.insert_copy_after(entry, after) : root.prepend_copy(entry);
    if (indent.type() == pugi::node_pcdata)
        root.insert_copy_before(indent, placed);
}

} // namespace

void ContentTypes::ensureDefault(const std::string& extension, const std::string& contentType)
{
    pugi::xml_node last;
    for (pugi::xml_node n = child(root(), "Default"); n; n = n.next_sibling(n.name())) {
        if (sameName(n.attribute("Extension").value(), extension))
            return;
        last = n;
    }
    pugi::xml_document doc;
    pugi::xml_node e = doc.append_child(name("Default").c_str());
    e.append_attribute("Extension") = extension.c_str();
    e.append_attribute("ContentType") = contentType.c_str();
    insertEntry(root(), last, e);
    setDirty();
}

void ContentTypes::addOverride(const std::string& partName, const std::string& contentType)
{
    removeOverride(partName);
    pugi::xml_node last;
    for (pugi::xml_node n = root().first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element)
            last = n;
    }
    pugi::xml_document doc;
    pugi::xml_node e = doc.append_child(name("Override").c_str());
    e.append_attribute("PartName") = withSlash(partName).c_str();
    e.append_attribute("ContentType") = contentType.c_str();
    insertEntry(root(), last, e);
    setDirty();
}

} // namespace corvane::automation::native
