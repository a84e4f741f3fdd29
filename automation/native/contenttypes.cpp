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

} // namespace corvane::automation::native
