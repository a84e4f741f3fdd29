// A relationships part (_rels/*.rels): the links from one part (or the package) to others.
#pragma once

#include "xmlpart.h"

#include <vector>

namespace corvane::automation::native {

struct Relationship
{
    std::string id;
    std::string type;   // full type URI
    std::string target; // resolved zip entry name (no leading slash) for internal targets
    bool external = false;
};

class Relationships : public XmlPart
{
public:
    // `sourcePart` is the part the relationships belong to ("" for the package itself); relative
    // targets are resolved against its folder.
    void setSource(const std::string& sourcePart) { m_source = sourcePart; }

    std::vector<Relationship> all() const;
    // The first relationship whose type ends with "/" + `typeSuffix`.
    bool findByType(const char* typeSuffix, Relationship& out) const;
    bool findById(const std::string& id, Relationship& out) const;
    void remove(const std::string& id);
    // Adds an internal relationship to `targetPart` (a zip entry name) and returns its new id.
    std::string add(const std::string& type, const std::string& targetPart);

    // The part name a relationship target points to, from the folder of `sourcePart`.
    static std::string resolveTarget(const std::string& sourcePart, const std::string& target);
    // The relationships part name that belongs to `part`.
    static std::string relsPartFor(const std::string& part);
    // The part a relationships part belongs to ("" for the package's own).
    static std::string sourceOfRels(const std::string& relsPart);
    // The relative target that leads from `sourcePart` to `targetPart`.
    static std::string relativeTarget(const std::string& sourcePart, const std::string& targetPart);
    // An empty relationships part, to start one with.
    static const char* const kEmpty;

private:
    Relationship make(pugi::xml_node n) const;
    std::string m_source;
};

} // namespace corvane::automation::native
