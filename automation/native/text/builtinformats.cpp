// The built-in number formats by id: a table of the zh-CN application's codes, apart from the
// code that reads them.
#include "numberformat.h"

namespace corvane::automation::native {

QString builtinFormatCode(int id)
{
    switch (id) {
    case 0:
        return QStringLiteral("General");
    case 1:
        return QStringLiteral("0");
    case 2:
        return QStringLiteral("0.00");
    case 3:
        return QStringLiteral("#,##0");
    case 4:
        return QStringLiteral("#,##0.00");
    case 5:
        return QStringLiteral("\"¥\"#,##0;\"¥\"\\-#,##0");
    case 6:
        return QStringLiteral("\"¥\"#,##0;[Red]\"¥\"\\-#,##0");
    case 7:
        return QStringLiteral("\"¥\"#,##0.00;\"¥\"\\-#,##0.00");
    case 8:
        return QStringLiteral("\"¥\"#,##0.00;[Red]\"¥\"\\-#,##0.00");
    case 9:
        return QStringLiteral("0%");
    case 10:
        return QStringLiteral("0.00%");
    case 11:
        return QStringLiteral("0.00E+00");
    case 12:
        return QStringLiteral("# ?/?");
    case 13:
        return QStringLiteral("# ?\?/?\?");
    case 14:
        return QStringLiteral("yyyy/m/d");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("yyyy/m/d h:mm");
    case 27:
    case 36:
    case 50:
    case 52:
    case 57:
        return QStringLiteral("yyyy\"年\"m\"月\"");
    case 28:
    case 29:
    case 51:
    case 53:
    case 54:
    case 58:
        return QStringLiteral("m\"月\"d\"日\"");
    case 30:
        return QStringLiteral("m-d-yy");
    case 31:
        return QStringLiteral("yyyy\"年\"m\"月\"d\"日\"");
    case 32:
        return QStringLiteral("h\"时\"mm\"分\"");
    case 33:
        return QStringLiteral("h\"时\"mm\"分\"ss\"秒\"");
    case 34:
    case 55:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"");
    case 35:
    case 56:
        return QStringLiteral("上午/下午h\"时\"mm\"分\"ss\"秒\"");
    // 37 to 40: the currency formats without a symbol, which the zh-CN application writes with a
    // minus sign rather than in parentheses.
    case 37:
        return QStringLiteral("#,##0;-#,##0");
    case 38:
        return QStringLiteral("#,##0;[Red]-#,##0");
    case 39:
        return QStringLiteral("#,##0.00;-#,##0.00");
    case 40:
        return QStringLiteral("#,##0.00;[Red]-#,##0.00");
    case 41:
        return QStringLiteral("_ * #,##0_ ;_ * \\-#,##0_ ;_ * \"-\"_ ;_ @_ ");
    case 42:
        return QStringLiteral("_ \"¥\"* #,##0_ ;_ \"¥\"* \\-#,##0_ ;_ \"¥\"* \"-\"_ ;_ @_ ");
    case 43:
        return QStringLiteral("_ * #,##0.00_ ;_ * \\-#,##0.00_ ;_ * \"-\"??_ ;_ @_ ");
    case 44:
        return QStringLiteral("_ \"¥\"* #,##0.00_ ;_ \"¥\"* \\-#,##0.00_ ;_ \"¥\"* \"-\"??_ ;_ @_ ");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mm:ss.0");
    case 48:
        return QStringLiteral("##0.0E+0");
    case 49:
        return QStringLiteral("@");
    default:
        return {};
    }
}

const NumberFormat* NumberFormatTable::format(int id)
{
    if (id == 0)
        return nullptr;
    auto it = m_parsed.find(id);
    if (it == m_parsed.end()) {
        // A code the workbook defines wins over the built-in one of its id: it is how the file
        // was shown where it was saved (the currency formats 5 to 8 in particular).
        const auto own = m_codes.find(id);
        const QString code = own != m_codes.end() ? own->second : builtinFormatCode(id);
        std::unique_ptr<NumberFormat> f;
        if (!code.isEmpty()) {
            f = std::make_unique<NumberFormat>(code);
            if (f->isGeneral())
                f.reset();
        }
        it = m_parsed.emplace(id, std::move(f)).first;
    }
    return it->second.get();
}

} // namespace corvane::automation::native
