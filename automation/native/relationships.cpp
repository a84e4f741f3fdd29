#include "relationships.h"

#include "xmltext.h"

#include <QByteArray>
#include <QUrl>

#include <cstring>

namespace corvane::automation::native {

std::string Relationships::resolveTarget(const std::string& sourcePart, const std::string& target)
{
    std::string t = target;
    const size_t hash = t.find('#');
    if (hash != std::string::npos)
        t.resize(hash);
    if (t.find('%') != std::string::npos)
        t = QByteArray::fromPercentEncoding(QByteArray::fromStdString(t)).toStdString();
    std::string path;
    if (!t.empty() && t[0] == '/') {
        path = t.substr(1);
    } else {
        const size_t slash = sourcePart.rfind('/');
        path = (slash == std::string::npos ? std::string() : sourcePart.substr(0, slash + 1)) + t;
    }
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find('/', pos);
        if (next == std::string::npos)
            next = path.size();
        const std::string seg = path.substr(pos, next - pos);
        if (seg == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(seg);
        }
        pos = next + 1;
    }
    std::string out;
    for (const auto& p : parts) {
        if (!out.empty())
            out += '/';
        out += p;
    }
    return out;
}

std::string Relationships::relsPartFor(const std::string& part)
{
    const size_t slash = part.rfind('/');
    if (slash == std::string::npos)
        return "_rels/" + part + ".rels";
    return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

Relationship Relationships::make(pugi::xml_node n) const
{
    Relationship r;
    r.id = attributeText(n.attribute("Id").value()).toStdString();
    r.type = attributeText(n.attribute("Type").value()).toStdString();
    r.external = std::strcmp(n.attribute("TargetMode").value(), "External") == 0;
    const std::string target = attributeText(n.attribute("Target").value()).toStdString();
    r.target = r.external ? target : resolveTarget(m_source, target);
    return r;
}

std::vector<Relationship> Relationships::all() const
{
    std::vector<Relationship> out;
    for (pugi::xml_node n = child(root(), "Relationship"); n; n = n.next_sibling(n.name()))
        out.push_back(make(n));
    return out;
}

bool Relationships::findByType(const char* typeSuffix, Relationship& out) const
{
    const size_t len = std::strlen(typeSuffix);
    for (pugi::xml_node n = child(root(), "Relationship"); n; n = n.next_sibling(n.name())) {
        const char* type = n.attribute("Type").value();
        const size_t tl = std::strlen(type);
        if (tl > len && type[tl - len - 1] == '/' && std::strcmp(type + tl - len, typeSuffix) == 0) {
            out = make(n);
            return true;
        }
    }
    return false;
}

bool Relationships::findById(const std::string& id, Relationship& out) const
{
    for (pugi::xml_node n = child(root(), "Relationship"); n; n = n.next_sibling(n.name())) {
        if (attributeText(n.attribute("Id").value()).toStdString() == id) {
            out = make(n);
            return true;
        }
    }
    return false;
}

void Relationships::remove(const std::string& id)
{
    for (pugi::xml_node n = child(root(), "Relationship"); n; n = n.next_sibling(n.name())) {
        if (attributeText(n.attribute("Id").value()).toStdString() == id) {
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
