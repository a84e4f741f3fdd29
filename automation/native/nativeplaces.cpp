// The places outside cells of a native sheet and workbook (comments, shapes, headers and
// footers, hyperlinks, external links).
#include "nativesheet.h"
#include "nativeworkbook.h"
#include "sheetplaces.h"
#include "worksheet.h"

namespace corvane::automation::native {

PlaceOutcome NativeSheet::replaceInPlaces(const PlaceEdit& edit)
{
    XmlPart* part = nullptr;
    bool protectsObjects = false;
    if (m_hasGrid) {
        Worksheet* ws = worksheet();
        if (!ws)
            return {};
        part = ws;
        protectsObjects = ws->protectsObjects();
    } else {
        // A chart sheet has headers and footers too.
        part = m_workbook.package().part<XmlPart>(m_partName);
        if (!part) {
            m_workbook.noteDamage(m_workbook.package().error());
            return {};
        }
    }
    QString damage;
    PlaceOutcome outcome =
        replaceInSheetPlaces(m_workbook.package(), m_partName, *part, protectsObjects, edit, damage);
    if (!damage.isEmpty())
        m_workbook.noteDamage(damage);
    return outcome;
}

PlaceOutcome NativeWorkbook::replaceInPlaces(const PlaceEdit& edit)
{
    QString damage;
    PlaceOutcome outcome = replaceInExternalLinks(m_package, m_workbookPartName, edit, damage);
    if (!damage.isEmpty())
        noteDamage(damage);
    return outcome;
}

} // namespace corvane::automation::native
