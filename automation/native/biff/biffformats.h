// The number formats of a binary workbook's cells: a cell's XF record names a format id, which a
// FORMAT record of the workbook spells out or which is built in, and the DATEMODE record says
// which day the date serials count from. Shown as the package engine shows the same format.
#pragma once

#include "records.h"

#include "automation/native/text/numberformat.h"

#include <map>
#include <memory>
#include <vector>

namespace corvane::automation::native::biff {

class BiffFormats
{
public:
    // Takes what it needs from a record of the workbook globals (XF, FORMAT, DATEMODE), in order.
    void read(const Record& record);
    // The text a number shows in a cell of XF `xf`; General for an XF or format the workbook
    // lacks.
    QString shown(double value, int xf);

private:
    const NumberFormat* format(int xf);

    std::vector<int> m_xfFormats; // format id by XF index
    NumberFormatTable m_formats;  // FORMAT records, by id
    bool m_date1904 = false;
};

} // namespace corvane::automation::native::biff
