#include "workbookpart.h"

#include "xmltext.h"

#include <cstring>

namespace corvane::automation::native {

namespace {
constexpr const char* kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
} // namespace

bool WorkbookPart::afterLoad()
{
    if (rootNamespace() != kMainNs) {
        m_error = rootNamespace().find("purl.oclc.org") != std::string::npos
                      ? QStringLiteral("unsupported: a strict Open XML workbook")
                      : QStringLiteral("unsupported: the workbook part is not SpreadsheetML");
        return false;
    }
    const pugi::xml_node sheets = child(root(), "sheets");
    for (pugi::xml_node s = child(sheets, "sheet"); s; s = s.next_sibling(s.name())) {
        SheetEntry e;
        e.name = attributeText(s.attribute("name").value());
        e.relationshipId = attributeText(nsAttribute(s, kRelNs, "id").value()).toStdString();
        m_sheets.push_back(e);
    }
    const QString date1904 = attributeText(child(root(), "workbookPr").attribute("date1904").value());
    m_date1904 = date1904 == QLatin1String("1") || date1904 == QLatin1String("true");
    return true;
}

void WorkbookPart::setFullCalcOnLoad()
{
    pugi::xml_node calcPr = child(root(), "calcPr");
    if (!calcPr) {
        // calcPr follows sheets, functionGroups, externalReferences and definedNames.
        pugi::xml_node after;
        for (const char* n : {"sheets", "functionGroups", "externalReferences", "definedNames"}) {
            if (pugi::xml_node c = child(root(), n))
                after = c;
        }
        calcPr = after ? root().insert_child_after(name("calcPr").c_str(), after)
                       : root().append_child(name("calcPr").c_str());
    }
    pugi::xml_attribute a = calcPr.attribute("fullCalcOnLoad");
    if (a && std::strcmp(a.value(), "1") == 0)
        return;
    if (!a)
        a = calcPr.append_attribute("fullCalcOnLoad");
    a.set_value("1");
    setDirty();
}

} // namespace corvane::automation::native
