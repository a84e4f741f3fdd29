// The workbook part (xl/workbook.xml): the sheet list and the calculation settings.
#pragma once

#include "xmlpart.h"

#include <QString>

#include <cstddef>
#include <vector>

namespace corvane::automation::native {

struct SheetEntry
{
    QString name;
    std::string relationshipId;
};

class WorkbookPart : public XmlPart
{
public:
    const std::vector<SheetEntry>& sheets() const { return m_sheets; }
    // Drops the entry of a sheet whose element the caller has removed from the tree.
    void forgetSheet(std::size_t position) { m_sheets.erase(m_sheets.begin() + std::ptrdiff_t(position)); }
    // Names the entry of a sheet whose element the caller has renamed in the tree.
    void renameSheet(std::size_t position, const QString& name) { m_sheets[position].name = name; }
    // Dates count from 1904-01-01 instead of 1899-12-30.
    bool date1904() const { return m_date1904; }
    // Asks the application to recalculate every formula when it opens the workbook.
    void setFullCalcOnLoad();

protected:
    bool afterLoad() override;

private:
    std::vector<SheetEntry> m_sheets;
    bool m_date1904 = false;
};

} // namespace corvane::automation::native
