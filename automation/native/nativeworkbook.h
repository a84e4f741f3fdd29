// A workbook package opened by the engine: the workbook part, its sheets (parsed when first
// visited) and the package-wide consequences of changing cells.
#pragma once

#include "package.h"

#include "automation/workbook.h"

#include <QString>

#include <map>
#include <memory>
#include <vector>

namespace corvane::automation::native {

class CellFormats;
class ContentTypes;
class NativeSheet;
class Relationships;
class SearchPattern;
class SharedStrings;
class WorkbookPart;
class Worksheet;

class NativeWorkbook : public Workbook
{
public:
    NativeWorkbook();
    ~NativeWorkbook() override;

    // False with lastError() when the file is not a workbook the engine can open.
    bool open(const QString& path);

    int sheetCount() override;
    Sheet* sheet(int index) override;
    // Takes the sheet out with everything only it used (sheetdeletion.cpp).
    bool deleteSheet(int index) override;
    // Renames the sheet and every reference to it (sheetrename.cpp).
    bool renameSheet(int index, const QString& name) override;
    // The external links' targets (sheetplaces.cpp).
    PlaceOutcome replaceInPlaces(const PlaceEdit& edit) override;
    bool save() override;
    void close() override;
    QString lastError() const override { return m_lastError; }
    QString damage() const override { return m_damage; }
    // A part the work needed could not be read; the first reason is kept.
    void noteDamage(const QString& reason)
    {
        if (m_damage.isEmpty())
            m_damage = reason;
    }

    Package& package() { return m_package; }
    // After open() failed: the file is not a zip package at all (see Package::foreignFormat).
    bool foreignFormat() const { return m_package.foreignFormat(); }
    // The shared strings table, loaded on first use; null when the workbook has none.
    SharedStrings* sharedStrings(QString& error);
    // The number formats of the cell styles, read on first use (never null while open).
    CellFormats* cellFormats();
    // Whether cells of style `xf` (an index into cellXfs) are locked, as they are unless their
    // style unlocks them; a style the workbook does not have counts as locked.
    bool styleLocked(int xf);
    // Called once cell contents changed: full recalculation on load, calculation chain dropped.
    void contentsChanged();
    // Which shared strings match `pattern` (made from `what`), by index, among those the table
    // held when first asked for that text; strings added since are not in it. Null without a table.
    struct StringMatches
    {
        std::vector<bool> byIndex;
        bool any = false;
    };
    const StringMatches* sharedStringMatches(const QString& what, const SearchPattern& pattern);
    // Adds how many cells of the whole workbook, `counted` left out, refer to each of these shared
    // strings; every other sheet with cells is read for it. False when a sheet could not be read.
    bool sharedStringUses(std::map<int, int>& uses, const Worksheet* counted = nullptr);
    // A shared string was given another text in place: answers about matching are stale.
    void sharedStringEdited() { m_sharedStringMatches.clear(); }

    // Whether row and column deletions and insertions may be kept aside at all (they are unless
    // told otherwise); without it every one rewrites the package at once, as a yardstick for the
    // other way.
    void keepLineEditsAside(bool allowed) { m_deferAllowed = allowed; }
    bool lineEditsMayWait() const { return m_deferAllowed; }
    // `sheet` keeps row or column edits aside; one sheet at a time.
    void deferring(NativeSheet* sheet) { m_deferring = sheet; }
    // Puts line edits kept aside into the package. False when that failed: the workbook is then
    // not saved, since the run has counted edits that did not happen.
    bool settle();
    // How many row or column edits went into the package since the workbook was opened (edits
    // made together count once).
    int lineEditsWritten() const { return m_lineEditsWritten; }
    void lineEditWritten() { ++m_lineEditsWritten; }
    // Whether the workbook has pivot caches (a pivot table anywhere).
    bool hasPivotCaches() const;

private:
    // docProps/app.xml, which lists the sheets by name; none when the package has no such part.
    XmlPart* appProperties();

    Package m_package;
    ContentTypes* m_contentTypes = nullptr;
    WorkbookPart* m_workbook = nullptr;
    Relationships* m_workbookRels = nullptr;
    std::string m_workbookPartName;
    std::string m_sharedStringsName;
    SharedStrings* m_sharedStrings = nullptr;
    std::unique_ptr<CellFormats> m_cellFormats;
    std::vector<std::unique_ptr<NativeSheet>> m_sheets;
    std::vector<bool> m_unlockedStyles; // by cellXfs index
    bool m_stylesRead = false;
    bool m_open = false;
    bool m_contentsChanged = false;
    std::map<QString, StringMatches> m_sharedStringMatches;
    QString m_lastError;
    QString m_damage;
    NativeSheet* m_deferring = nullptr;
    bool m_deferAllowed = true;
    int m_lineEditsWritten = 0;
    QString m_lostLineEdits;
};

} // namespace corvane::automation::native
