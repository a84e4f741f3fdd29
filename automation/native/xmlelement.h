// Elements found by their local name, whatever prefix a part gives their namespace ("x:row",
// "row"): producers differ in prefixes, never in local names.
#pragma once

#include <pugixml.hpp>

#include <cstring>
#include <string_view>
#include <vector>

namespace corvane::automation::native {

inline std::string_view localName(pugi::xml_node node)
{
    const char* name = node.name();
    const char* colon = std::strchr(name, ':');
    return colon ? std::string_view(colon + 1) : std::string_view(name);
}

// The prefix of a qualified name with its colon ("x:" of "x:worksheet"); empty when it has none.
inline std::string_view namePrefix(std::string_view qualified)
{
    const std::size_t colon = qualified.find(':');
    return colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon + 1);
}

inline bool isElement(pugi::xml_node node, std::string_view local)
{
    return node.type() == pugi::node_element && localName(node) == local;
}

inline pugi::xml_node firstChildElement(pugi::xml_node parent, std::string_view local)
{
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
        if (isElement(c, local))
            return c;
    return {};
}

// Collected first, so that the caller may remove them while it walks the list.
inline std::vector<pugi::xml_node> childElements(pugi::xml_node parent, std::string_view local)
{
    std::vector<pugi::xml_node> out;
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
        if (isElement(c, local))
            out.push_back(c);
    return out;
}

} // namespace corvane::automation::native
