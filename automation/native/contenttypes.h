// [Content_Types].xml: the content type of every part, by override or by extension.
#pragma once

#include "xmlpart.h"

namespace corvane::automation::native {

class ContentTypes : public XmlPart
{
public:
    // The content type of the part "/xl/workbook.xml" style name (leading slash optional).
    std::string contentType(const std::string& partName) const;
    // Drops the override of a part that is removed from the package.
    void removeOverride(const std::string& partName);
    // Declares the content type of every part with this extension, unless one is declared.
    void ensureDefault(const std::string& extension, const std::string& contentType);
    // Declares the content type of one new part.
    void addOverride(const std::string& partName, const std::string& contentType);
};

} // namespace corvane::automation::native
