#include "cellformats.h"

#include "xmlelement.h"
#include "xmltext.h"

#include <pugixml.hpp>

namespace corvane::automation::native {

void CellFormats::load(const std::string& stylesXml)
{
    pugi::xml_document doc;
    if (!doc.load_buffer(stylesXml.data(), stylesXml.size(), pugi::parse_default & ~pugi::parse_escapes))
        return;
    const pugi::xml_node root = doc.document_element();
    // Children by local name: styles parts of some writers carry a namespace prefix.
    for (pugi::xml_node f = firstChildElement(root, "numFmts").first_child(); f; f = f.next_sibling()) {
        if (localName(f) == "numFmt")
            m_formats.define(f.attribute("numFmtId").as_int(-1),
                             attributeText(f.attribute("formatCode").value()));
    }
    for (pugi::xml_node xf = firstChildElement(root, "cellXfs").first_child(); xf; xf = xf.next_sibling()) {
        if (localName(xf) != "xf")
            continue;
        const int id = xf.attribute("numFmtId").as_int(0);
        m_styleFormatIds.push_back(id);
        m_any = m_any || id != 0;
    }
    m_byStyle.assign(m_styleFormatIds.size(), nullptr);
    m_resolved.assign(m_styleFormatIds.size(), false);
}

void CellFormats::loadNow()
{
    const auto source = std::move(m_source);
    m_source = nullptr;
    load(source());
}

const NumberFormat* CellFormats::format(int styleIndex)
{
    if (m_source)
        loadNow();
    if (styleIndex < 0 || size_t(styleIndex) >= m_styleFormatIds.size())
        return nullptr;
    const size_t i = size_t(styleIndex);
    if (m_resolved[i])
        return m_byStyle[i];
    m_resolved[i] = true;
    m_byStyle[i] = m_formats.format(m_styleFormatIds[i]);
    return m_byStyle[i];
}

} // namespace corvane::automation::native
