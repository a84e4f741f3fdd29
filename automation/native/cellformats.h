// The number formats of a workbook's cell styles: the styles part (cell style `s` -> cellXfs ->
// numFmtId -> numFmts or a built-in format) and the workbook's date system. Read once per
// workbook; a format is parsed when a cell first shows through it and kept per style index.
#pragma once

#include "text/numberformat.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace corvane::automation::native {

class CellFormats
{
public:
    // Reads the styles part. Text that does not parse leaves every cell in General.
    void load(const std::string& stylesXml);
    // Reads the styles part that `source` gives when a number is first shown, so that work which
    // never shows one (formula searches, replacing) does not read it.
    void loadLater(std::function<std::string()> source) { m_source = std::move(source); }
    void setDate1904(bool on) { m_date1904 = on; }
    bool date1904() const { return m_date1904; }
    // Whether some cell style names a format other than General.
    bool any()
    {
        if (m_source)
            loadNow();
        return m_any;
    }
    // The format of cell style `index`; null for General, and for an index the part lacks.
    const NumberFormat* format(int styleIndex);

private:
    void loadNow();

    std::function<std::string()> m_source;
    std::vector<int> m_styleFormatIds;
    NumberFormatTable m_formats; // numFmts of the part, by id
    std::vector<const NumberFormat*> m_byStyle;
    std::vector<bool> m_resolved;
    bool m_date1904 = false;
    bool m_any = false;
};

} // namespace corvane::automation::native
