#include "nativeworkbook.h"

#include "cellformats.h"
#include "contenttypes.h"
#include "nativesheet.h"
#include "relationships.h"
#include "sharedstrings.h"
#include "workbookpart.h"
#include "worksheet.h"
#include "xmlpart.h"

#include <algorithm>
#include <utility>

namespace corvane::automation::native {

namespace {

bool isSpreadsheetType(const std::string& type)
{
    static const char* const types[] = {
        "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
        "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
        "application/vnd.ms-excel.sheet.macroEnabled.main+xml",
        "application/vnd.ms-excel.template.macroEnabled.main+xml",
        "application/vnd.ms-excel.addin.macroEnabled.main+xml",
    };
    for (const char* t : types) {
        if (type == t)
            return true;
    }
    return false;
}

} // namespace

NativeWorkbook::NativeWorkbook() = default;
NativeWorkbook::~NativeWorkbook() = default;

bool NativeWorkbook::open(const QString& path)
{
    const auto fail = [this](const QString& reason) {
        m_lastError = reason;
        m_package.close();
        return false;
    };
    m_deferring = nullptr;
    m_lostLineEdits.clear();
    if (!m_package.open(path))
        return fail(m_package.error());
    if (!m_package.contains("[Content_Types].xml"))
        return fail(QStringLiteral("damaged: not an Open XML package (it has no [Content_Types].xml)"));
    m_contentTypes = m_package.part<ContentTypes>("[Content_Types].xml");
    if (!m_contentTypes)
        return fail(m_package.error());
    if (!m_package.contains("_rels/.rels"))
        return fail(QStringLiteral("damaged: the package has no relationships (_rels/.rels)"));
    auto* rootRels = m_package.part<Relationships>("_rels/.rels");
    if (!rootRels)
        return fail(m_package.error());
    Relationship office;
    if (!rootRels->findByType("officeDocument", office) || office.external ||
        !m_package.contains(office.target))
        return fail(QStringLiteral("damaged: the package has no workbook part"));
    m_workbookPartName = office.target;
    const std::string type = m_contentTypes->contentType(m_workbookPartName);
    if (!isSpreadsheetType(type)) {
        if (type.find("binary") != std::string::npos)
            return fail(QStringLiteral("unsupported: a binary (.xlsb) workbook"));
        if (office.type.find("purl.oclc.org") != std::string::npos)
            return fail(QStringLiteral("unsupported: a strict Open XML workbook"));
        return fail(
            QStringLiteral("not a workbook: the package holds \"%1\"").arg(QString::fromStdString(type)));
    }
    m_workbook = m_package.part<WorkbookPart>(m_workbookPartName);
    if (!m_workbook)
        return fail(m_package.error());
    const std::string relsName = Relationships::relsPartFor(m_workbookPartName);
    if (!m_package.contains(relsName))
        return fail(QStringLiteral("damaged: the workbook part has no relationships"));
    m_workbookRels = m_package.part<Relationships>(relsName);
    if (!m_workbookRels)
        return fail(m_package.error());
    m_workbookRels->setSource(m_workbookPartName);

    Relationship sst;
    if (m_workbookRels->findByType("sharedStrings", sst) && !sst.external && m_package.contains(sst.target))
        m_sharedStringsName = sst.target;

    // Every visit of a sheet needs the strings; a hostile or damaged table refuses the workbook.
    QString error;
    sharedStrings(error);
    if (!error.isEmpty())
        return fail(error);

    for (const SheetEntry& e : m_workbook->sheets()) {
        Relationship rel;
        if (!m_workbookRels->findById(e.relationshipId, rel) || rel.external)
            return fail(QStringLiteral("damaged: sheet \"%1\" has no part").arg(e.name));
        const auto typeEndsWith = [&rel](const std::string& suffix) {
            return rel.type.size() >= suffix.size() &&
                   rel.type.compare(rel.type.size() - suffix.size(), suffix.size(), suffix) == 0;
        };
        // Macro sheets hold cells as worksheets do; chart and dialog sheets hold none.
        const bool grid = typeEndsWith("/worksheet") || typeEndsWith("/xlMacrosheet");
        if (grid && !m_package.contains(rel.target))
            return fail(QStringLiteral("damaged: the part of sheet \"%1\" is missing").arg(e.name));
        m_sheets.push_back(std::make_unique<NativeSheet>(*this, e.name, rel.target, grid));
    }
    // The application opens no workbook without a sheet; left alone silently, it would pass for
    // one without matches.
    if (m_sheets.empty())
        return fail(QStringLiteral("damaged: the workbook has no sheets"));
    m_open = true;
    return true;
}

int NativeWorkbook::sheetCount()
{
    return m_open ? static_cast<int>(m_sheets.size()) : 0;
}

Sheet* NativeWorkbook::sheet(int index)
{
    if (!m_open || index < 1 || index > sheetCount())
        return nullptr;
    return m_sheets[static_cast<size_t>(index - 1)].get();
}

SharedStrings* NativeWorkbook::sharedStrings(QString& error)
{
    if (m_sharedStrings || m_sharedStringsName.empty())
        return m_sharedStrings;
    m_sharedStrings = m_package.part<SharedStrings>(m_sharedStringsName);
    if (!m_sharedStrings)
        error = m_package.error();
    return m_sharedStrings;
}

CellFormats* NativeWorkbook::cellFormats()
{
    if (m_cellFormats)
        return m_cellFormats.get();
    m_cellFormats = std::make_unique<CellFormats>();
    m_cellFormats->setDate1904(m_workbook && m_workbook->date1904());
    // Read as bytes, not as a part: the styles are never written back.
    Relationship styles;
    if (m_workbookRels && m_workbookRels->findByType("styles", styles) && !styles.external &&
        m_package.contains(styles.target)) {
        m_cellFormats->loadLater([this, name = styles.target] {
            std::string xml;
            if (!m_package.read(name, xml))
                xml.clear();
            return xml;
        });
    }
    return m_cellFormats.get();
}

bool NativeWorkbook::styleLocked(int xf)
{
    if (!m_stylesRead) {
        m_stylesRead = true;
        Relationship styles;
        XmlPart* part = nullptr;
        if (m_workbookRels->findByType("styles", styles) && !styles.external &&
            m_package.contains(styles.target))
            part = m_package.part<XmlPart>(styles.target);
        if (part) {
            const pugi::xml_node xfs = part->child(part->root(), "cellXfs");
            for (pugi::xml_node x = part->child(xfs, "xf"); x; x = x.next_sibling(x.name())) {
                const pugi::xml_node protection = part->child(x, "protection");
                m_unlockedStyles.push_back(protection && !protection.attribute("locked").as_bool(true));
            }
        }
    }
    return xf < 0 || static_cast<size_t>(xf) >= m_unlockedStyles.size() ||
           !m_unlockedStyles[static_cast<size_t>(xf)];
}

const NativeWorkbook::StringMatches* NativeWorkbook::sharedStringMatches(const QString& what,
                                                                         const SearchPattern& pattern)
{
    if (!m_sharedStrings)
        return nullptr;
    auto it = m_sharedStringMatches.find(what);
    if (it == m_sharedStringMatches.end()) {
        StringMatches m;
        m.byIndex = m_sharedStrings->matching(pattern);
        m.any = std::find(m.byIndex.begin(), m.byIndex.end(), true) != m.byIndex.end();
        it = m_sharedStringMatches.emplace(what, std::move(m)).first;
    }
    return &it->second;
}

bool NativeWorkbook::sharedStringUses(std::map<int, int>& uses, const Worksheet* counted)
{
    for (auto& sheet : m_sheets) {
        if (!sheet->hasGrid())
            continue;
        Worksheet* ws = sheet->worksheetQuietly();
        if (!ws)
            return false;
        if (ws == counted)
            continue;
        for (const GridRow& row : ws->grid().rows()) {
            for (const GridCell& cell : row.cells) {
                const int index = ws->sharedStringIndex(cell, true);
                const auto it = index < 0 ? uses.end() : uses.find(index);
                if (it != uses.end())
                    ++it->second;
            }
        }
    }
    return true;
}

void NativeWorkbook::contentsChanged()
{
    if (m_contentsChanged)
        return;
    m_contentsChanged = true;
    m_workbook->setFullCalcOnLoad();
    Relationship chain;
    if (m_workbookRels->findByType("calcChain", chain)) {
        m_workbookRels->remove(chain.id);
        if (!chain.external) {
            m_package.removeEntry(chain.target);
            m_contentTypes->removeOverride(chain.target);
        }
    }
}

bool NativeWorkbook::settle()
{
    NativeSheet* sheet = std::exchange(m_deferring, nullptr);
    if (!sheet || sheet->settleLines())
        return true;
    m_lostLineEdits = QStringLiteral("the rows or columns deleted or inserted could not be written: %1")
                          .arg(sheet->lastError());
    noteDamage(m_lostLineEdits);
    return false;
}

bool NativeWorkbook::hasPivotCaches() const
{
    for (const Relationship& r : m_workbookRels->all()) {
        if (r.type.find("/pivotCacheDefinition") != std::string::npos)
            return true;
    }
    return false;
}

bool NativeWorkbook::save()
{
    if (!m_open) {
        m_lastError = QStringLiteral("not saved: the workbook is closed");
        return false;
    }
    if (!settle() || !m_lostLineEdits.isEmpty()) {
        m_lastError = QStringLiteral("not saved: %1").arg(m_lostLineEdits);
        return false;
    }
    if (m_package.hasChanges()) {
        for (auto& sheet : m_sheets)
            sheet->releaseUnchanged();
    }
    if (!m_package.save()) {
        m_lastError = m_package.error();
        return false;
    }
    m_contentsChanged = false;
    return true;
}

void NativeWorkbook::close()
{
    m_deferring = nullptr;
    m_open = false;
    m_sheets.clear();
    m_cellFormats.reset();
    m_package.close();
}

XmlPart* NativeWorkbook::appProperties()
{
    auto* rootRels = m_package.part<Relationships>("_rels/.rels");
    Relationship props;
    if (!rootRels || !rootRels->findByType("extended-properties", props) || props.external ||
        !m_package.contains(props.target))
        return nullptr;
    return m_package.part<XmlPart>(props.target);
}

} // namespace corvane::automation::native
