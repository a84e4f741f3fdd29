#include "relationships.h"

#include "xmltext.h"

#include <QByteArray>
#include <QUrl>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

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

const char* const Relationships::kEmpty =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"></Relationships>";

std::string Relationships::sourceOfRels(const std::string& relsPart)
{
    const std::string marker = "_rels/";
    const size_t at = relsPart.rfind(marker);
    if (at == std::string::npos || relsPart.size() < 5 ||
        relsPart.compare(relsPart.size() - 5, 5, ".rels") != 0)
        return {};
    return relsPart.substr(0, at) +
           relsPart.substr(at + marker.size(), relsPart.size() - 5 - at - marker.size());
}

std::string Relationships::relativeTarget(const std::string& sourcePart, const std::string& targetPart)
{
    const auto folders = [](const std::string& path) {
        std::vector<std::string> out;
        size_t pos = 0;
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', pos)) {
            out.push_back(path.substr(pos, slash - pos));
            pos = slash + 1;
        }
        return out;
    };
    const std::vector<std::string> from = folders(sourcePart);
    const std::vector<std::string> to = folders(targetPart);
    size_t common = 0;
    while (common < from.size() && common < to.size() && from[common] == to[common])
        ++common;
    std::string out;
    for (size_t i = common; i < from.size(); ++i)
        out += "../";
    for (size_t i = common; i < to.size(); ++i)
        out += to[i] + '/';
    const size_t slash = targetPart.rfind('/');
    return out + (slash == std::string::npos ? targetPart : targetPart.substr(slash + 1));
}

std::string Relationships::add(const std::string& type, const std::string& targetPart)
{
    // The next free "rIdN".
    int next = 1;
    for (pugi::xml_node n = child(root(), "Relationship"); n; n = n.next_sibling(n.name())) {
        const char* id = n.attribute("Id").value();
        if (std::strncmp(id, "rId", 3) == 0)
            next = std::max(next, boundedInt(id + 3, 0, std::numeric_limits<int>::max() - 1, 0) + 1);
    }
    std::string id = "rId" + std::to_string(next);
    pugi::xml_node last;
    for (pugi::xml_node n = root().first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element)
            last = n;
    }
    pugi::xml_node e = last ? root().insert_child_after(name("Relationship").c_str(), last)
                            : root().append_child(name("Relationship").c_str());
    e.append_attribute("Id") = id.c_str();
    e.append_attribute("Type") = type.c_str();
    e.append_attribute("Target") = relativeTarget(m_source, targetPart).c_str();
    setDirty();
    return id;
}

} // namespace corvane::automation::native
