#include "libreofficeworkbook.h"

#include "libreofficesheet.h"

#include "automation/sheetnaming.h"
#include "platform/savefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QXmlStreamReader>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/sheet/CellFlags.hpp>
#include <com/sun/star/sheet/XCellRangesQuery.hpp>
#include <com/sun/star/sheet/XSheetCellRanges.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>
#include <com/sun/star/util/XProtectable.hpp>

#include <zip.h>

#include <map>

using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace corvane::automation::libreoffice {

namespace {

const QString kExcel97 = QStringLiteral("MS Excel 97");
const QString kExcel2007 = QStringLiteral("Calc MS Excel 2007 XML");
const QString kExcel2007Vba = QStringLiteral("Calc MS Excel 2007 VBA XML");

bool isOoxmlFilter(const QString& filter)
{
    return filter == kExcel2007 || filter == kExcel2007Vba ||
           filter == QLatin1String("Calc Office Open XML") ||
           filter.startsWith(QLatin1String("Calc MS Excel 2007"));
}

// Binary workbooks hold NUL bytes at once; web pages and text exports hold none.
bool looksBinary(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(4096).contains('\0');
}

// The workbook part of a package LibreOffice or Excel wrote; null when there is none.
QByteArray readWorkbookPart(zip_t* zip)
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(zip, "xl/workbook.xml", 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) ||
        st.size > 64u * 1024 * 1024)
        return {};
    zip_file_t* f = zip_fopen(zip, "xl/workbook.xml", 0);
    if (!f)
        return {};
    QByteArray data(int(st.size), '\0');
    const zip_int64_t n = zip_fread(f, data.data(), st.size);
    zip_fclose(f);
    return n == zip_int64_t(st.size) ? data : QByteArray();
}

// The state ("hidden", "veryHidden") of each sheet of the package at `path`, by name.
std::map<QString, QString> packageSheetStates(const QString& path)
{
    std::map<QString, QString> states;
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!zip)
        return states;
    QXmlStreamReader xml(readWorkbookPart(zip));
    zip_discard(zip);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("sheet"))
            states[xml.attributes().value(QLatin1String("name")).toString()] =
                xml.attributes().value(QLatin1String("state")).toString();
    }
    return states;
}

// A sheet name as a link target writes it: in apostrophes (doubled inside) unless it is a plain
// word that cannot be read as a cell.
QString linkSheetName(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[^\\W\\d][\\w.]*$"),
                                          QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression cellLike(
        QStringLiteral("^([A-Za-z]{1,3}\\d+|[Rr]\\d*([Cc]\\d*)?|[Cc]\\d*)$"));
    if (plain.match(name).hasMatch() && !cellLike.match(name).hasMatch())
        return name;
    QString quoted = name;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// The target of a link into the workbook ("#Sheet.A1", "#'My sheet'!A1") after the sheet was
// renamed; empty when the link does not lead into that sheet.
QString relinked(const QString& url, const QString& oldName, const QString& newName)
{
    if (!url.startsWith(QLatin1Char('#')))
        return {};
    QString quotedOld = oldName;
    quotedOld.replace(QLatin1Char('\''), QLatin1String("''"));
    quotedOld = QLatin1Char('\'') + quotedOld + QLatin1Char('\'');
    const QString place = url.mid(1);
    for (const QString& written : {quotedOld, oldName}) {
        if (place.size() > written.size() && place.startsWith(written, Qt::CaseInsensitive) &&
            (place.at(written.size()) == QLatin1Char('.') || place.at(written.size()) == QLatin1Char('!')))
            return QLatin1Char('#') + linkSheetName(newName) + place.mid(written.size());
    }
    return {};
}

} // namespace

void LibreOfficeWorkbook::relinkToRenamedSheet(const QString& oldName, const QString& newName)
{
    const Reference<css::sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
    const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
        const Reference<css::sheet::XCellRangesQuery> query(sheets->getByIndex(i), UNO_QUERY_THROW);
        const Reference<css::sheet::XSheetCellRanges> texts =
            query->queryContentCells(css::sheet::CellFlags::STRING);
        if (!texts.is())
            continue;
        const Reference<css::container::XEnumeration> cells = texts->getCells()->createEnumeration();
        while (cells->hasMoreElements()) {
            const Reference<css::text::XTextFieldsSupplier> fields(cells->nextElement(), UNO_QUERY);
            if (!fields.is())
                continue;
            const Reference<css::container::XEnumeration> each = fields->getTextFields()->createEnumeration();
            while (each->hasMoreElements()) {
                const Reference<css::beans::XPropertySet> field(each->nextElement(), UNO_QUERY);
                rtl::OUString url;
                if (!field.is() || !(field->getPropertyValue("URL") >>= url))
                    continue;
                const QString target = relinked(toQString(url), oldName, newName);
                if (!target.isEmpty())
                    field->setPropertyValue("URL", Any(toOUString(target)));
            }
        }
    }
}

bool LibreOfficeWorkbook::restoreSheetStates(const QString& savedPath)
{
    // Which sheets the workbook shows, in order, as Calc holds them.
    const Reference<css::sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
    const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    std::vector<std::pair<QString, bool>> shown;
    bool anyHidden = false;
    for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
        const Reference<css::beans::XPropertySet> props(sheets->getByIndex(i), UNO_QUERY_THROW);
        const Reference<css::container::XNamed> named(props, UNO_QUERY_THROW);
        bool visible = true;
        props->getPropertyValue("IsVisible") >>= visible;
        shown.emplace_back(toQString(named->getName()), visible);
        anyHidden = anyHidden || !visible;
    }
    if (!anyHidden)
        return true;
    const std::map<QString, QString> original = packageSheetStates(m_path);

    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(savedPath).constData(), 0, &code);
    if (!zip) {
        m_lastError = QStringLiteral("cannot reopen the copy LibreOffice saved of %1").arg(m_path);
        return false;
    }
    QString text = QString::fromUtf8(readWorkbookPart(zip));
    static const QRegularExpression sheetElement(QStringLiteral("<sheet\\b[^>]*>"));
    static const QRegularExpression stateAttribute(QStringLiteral("\\sstate=\"[^\"]*\""));
    QString fixed;
    int from = 0;
    size_t index = 0;
    int firstVisible = -1;
    auto matches = sheetElement.globalMatch(text);
    while (matches.hasNext() && index < shown.size()) {
        const QRegularExpressionMatch m = matches.next();
        const auto& [name, visible] = shown[index];
        if (visible && firstVisible < 0)
            firstVisible = int(index);
        const auto renamed = m_originalNames.find(name);
        const auto known = original.find(renamed == m_originalNames.end() ? name : renamed->second);
        const QString state = visible ? QStringLiteral("visible")
                              : known != original.end() && known->second == QLatin1String("veryHidden")
                                  ? QStringLiteral("veryHidden")
                                  : QStringLiteral("hidden");
        QString element = m.captured(0);
        element.remove(stateAttribute);
        element.insert(int(qstrlen("<sheet")), QStringLiteral(" state=\"%1\"").arg(state));
        fixed += text.mid(from, m.capturedStart() - from) + element;
        from = m.capturedEnd();
        ++index;
    }
    fixed += text.mid(from);
    // The tab shown on opening must be a visible one.
    static const QRegularExpression activeTab(QStringLiteral("activeTab=\"(\\d+)\""));
    const QRegularExpressionMatch active = activeTab.match(fixed);
    if (active.hasMatch() && firstVisible >= 0) {
        const size_t tab = active.captured(1).toUInt();
        if (tab >= shown.size() || !shown[tab].second)
            fixed.replace(active.capturedStart(), active.capturedLength(),
                          QStringLiteral("activeTab=\"%1\"").arg(firstVisible));
    }
    const QByteArray data = fixed.toUtf8();
    zip_source_t* source = zip_source_buffer(zip, data.constData(), zip_uint64_t(data.size()), 0);
    const zip_int64_t entry = zip_name_locate(zip, "xl/workbook.xml", 0);
    if (text.isEmpty() || index != shown.size() || !source || entry < 0 ||
        zip_file_replace(zip, zip_uint64_t(entry), source, 0) != 0) {
        if (source)
            zip_source_free(source);
        zip_discard(zip);
        m_lastError =
            QStringLiteral("cannot restore the sheets' visibility in the copy LibreOffice saved of %1")
                .arg(m_path);
        return false;
    }
    if (zip_close(zip) != 0) {
        zip_discard(zip);
        m_lastError =
            QStringLiteral("cannot restore the sheets' visibility in the copy LibreOffice saved of %1")
                .arg(m_path);
        return false;
    }
    return true;
}

LibreOfficeWorkbook::LibreOfficeWorkbook(Reference<css::lang::XComponent> document, QString path,
                                         QString filter, QString filterOptions,
                                         Reference<css::uno::XComponentContext> office)
    : m_document(std::move(document)), m_office(std::move(office)), m_path(std::move(path)),
      m_filter(std::move(filter)), m_filterOptions(std::move(filterOptions))
{
}

LibreOfficeWorkbook::~LibreOfficeWorkbook()
{
    close();
}

QString LibreOfficeWorkbook::saveFilter() const
{
    const QString suffix = QFileInfo(m_path).suffix().toLower();
    if (isOoxmlFilter(m_filter)) {
        // A macro-enabled package must be written with the VBA flavour or it loses its project.
        if (suffix == QLatin1String("xlsm"))
            return kExcel2007Vba;
        return m_filter == kExcel2007Vba ? kExcel2007 : m_filter;
    }
    // The web-query import has no export; the page is written back as a page.
    if (m_filter == QLatin1String("calc_HTML_WebQuery"))
        return QStringLiteral("HTML (StarCalc)");
    // BIFF5 and older have no export filter; they are written as BIFF8, still an .xls.
    if (m_filter.startsWith(QLatin1String("MS Excel")) && m_filter != kExcel97 &&
        !m_filter.startsWith(QLatin1String("MS Excel 97")))
        return kExcel97;
    return m_filter;
}

QString LibreOfficeWorkbook::saveFilterOptions() const
{
    if (!m_filter.startsWith(QLatin1String("Text - txt - csv")) || m_filterOptions.isEmpty())
        return m_filterOptions;
    // Separator, quote and character set as read; the rest of the tokens mean other things on
    // export, where text is quoted only when it must be.
    return m_filterOptions.section(QLatin1Char(','), 0, 2) + QStringLiteral(",1,,0,false");
}

bool LibreOfficeWorkbook::loadSheets()
{
    if (m_sheetsLoaded)
        return true;
    if (!m_document.is()) {
        m_lastError = QStringLiteral("the workbook is closed");
        return false;
    }
    const Reference<css::sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
    const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
    const sal_Int32 count = sheets->getCount();
    for (sal_Int32 i = 0; i < count; ++i) {
        Reference<css::sheet::XSpreadsheet> sheet(sheets->getByIndex(i), UNO_QUERY_THROW);
        m_sheets.push_back(std::make_unique<LibreOfficeSheet>(this, sheet));
    }
    const Reference<css::util::XNumberFormatsSupplier> supplier(m_document, UNO_QUERY_THROW);
    m_formats = supplier->getNumberFormats();
    m_sheetsLoaded = true;
    return true;
}

int LibreOfficeWorkbook::sheetCount()
{
    try {
        return loadSheets() ? static_cast<int>(m_sheets.size()) : 0;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return 0;
    }
}

Sheet* LibreOfficeWorkbook::sheet(int index)
{
    try {
        if (!loadSheets() || index < 1 || index > static_cast<int>(m_sheets.size()))
            return nullptr;
        return m_sheets[static_cast<size_t>(index - 1)].get();
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return nullptr;
    }
}

bool LibreOfficeWorkbook::deleteSheet(int index)
{
    try {
        if (!loadSheets())
            return false;
        if (index < 1 || index > static_cast<int>(m_sheets.size())) {
            m_lastError = QStringLiteral("there is no sheet %1").arg(index);
            return false;
        }
        const Reference<css::sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        // Calc would remove the last visible sheet without complaint; the workbook would then
        // open with nothing to show.
        int visibleOthers = 0;
        bool targetVisible = false;
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
            const Reference<css::beans::XPropertySet> props(sheets->getByIndex(i), UNO_QUERY_THROW);
            bool visible = true;
            props->getPropertyValue("IsVisible") >>= visible;
            if (i == index - 1)
                targetVisible = visible;
            else if (visible)
                ++visibleOthers;
        }
        if (targetVisible && visibleOthers == 0) {
            m_lastError = QStringLiteral("a workbook must keep at least one visible sheet");
            return false;
        }
        const Reference<css::container::XNamed> named(sheets->getByIndex(index - 1), UNO_QUERY_THROW);
        doc->getSheets()->removeByName(named->getName());
        m_sheets.erase(m_sheets.begin() + (index - 1));
        return true;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
}

bool LibreOfficeWorkbook::renameSheet(int index, const QString& name)
{
    try {
        if (!loadSheets())
            return false;
        if (index < 1 || index > static_cast<int>(m_sheets.size())) {
            m_lastError = QStringLiteral("there is no sheet %1").arg(index);
            return false;
        }
        const Reference<css::sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
        QString current;
        QStringList others;
        for (sal_Int32 i = 0; i < sheets->getCount(); ++i) {
            const Reference<css::container::XNamed> named(sheets->getByIndex(i), UNO_QUERY_THROW);
            if (i == index - 1)
                current = toQString(named->getName());
            else
                others << toQString(named->getName());
        }
        if (name == current)
            return true;
        // Calc's own rules differ (it takes "History", for one); the workbook must stay one the
        // application opens.
        const QString invalid = sheetNameRefusal(name, others);
        if (!invalid.isEmpty()) {
            m_lastError = invalid;
            return false;
        }
        const Reference<css::util::XProtectable> protection(m_document, UNO_QUERY);
        if (protection.is() && protection->isProtected()) {
            m_lastError = QStringLiteral("the workbook's structure is protected");
            return false;
        }
        const Reference<css::container::XNamed> named(sheets->getByIndex(index - 1), UNO_QUERY_THROW);
        named->setName(toOUString(name));
        if (toQString(named->getName()) != name) {
            m_lastError = QStringLiteral("LibreOffice did not take the sheet name \"%1\"").arg(name);
            return false;
        }
        // Calc follows formulas, names and charts itself, but not links to places in the workbook.
        relinkToRenamedSheet(current, name);
        const auto earlier = m_originalNames.find(current);
        const QString original = earlier == m_originalNames.end() ? current : earlier->second;
        if (earlier != m_originalNames.end())
            m_originalNames.erase(earlier);
        m_originalNames[name] = original;
        return true;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
}

bool LibreOfficeWorkbook::isBooleanFormat(sal_Int32 key)
{
    const auto known = m_booleanFormats.find(key);
    if (known != m_booleanFormats.end())
        return known->second;
    bool boolean = false;
    if (m_formats.is()) {
        const Reference<css::beans::XPropertySet> format = m_formats->getByKey(key);
        sal_Int16 type = 0;
        if (format.is() && (format->getPropertyValue("Type") >>= type))
            boolean = (type & css::util::NumberFormat::LOGICAL) != 0;
    }
    m_booleanFormats.emplace(key, boolean);
    return boolean;
}

sal_Int32 LibreOfficeWorkbook::standardFormat(sal_Int16 type)
{
    const Reference<css::util::XNumberFormatTypes> types(m_formats, UNO_QUERY_THROW);
    return types->getStandardFormat(type, css::lang::Locale());
}

bool LibreOfficeWorkbook::save()
{
    if (!m_document.is()) {
        m_lastError = QStringLiteral("the workbook is closed");
        return false;
    }
    if (!m_failedEdit.isEmpty()) {
        m_lastError = QStringLiteral("not saved, since an edit on it failed: %1").arg(m_failedEdit);
        return false;
    }
    // Nothing changed: the file on disk already is the workbook, byte for byte.
    try {
        const Reference<css::util::XModifiable> modifiable(m_document, UNO_QUERY);
        if (modifiable.is() && !modifiable->isModified())
            return true;
    } catch (const css::lang::DisposedException& e) {
        m_lastError =
            QStringLiteral("LibreOffice went away before %1 was saved (%2); the file is left as it was")
                .arg(m_path, toQString(e.Message));
        return false;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
    // Checked before the office does the work of writing; the replacement checks again.
    const QString refusal = platform::refusalToReplace(m_path);
    if (!refusal.isEmpty()) {
        m_lastError = refusal;
        return false;
    }
    // Beside the target so the final rename stays on one file system; the office writes it by
    // its path, and it is removed again unless it took the workbook's place.
    platform::SaveFile temp(m_path);
    if (!temp.open()) {
        m_lastError = temp.errorString();
        return false;
    }
    const QString tempPath = temp.path();
    temp.file().close();

    const QString filter = saveFilter();
    if (filter == kExcel97 && !looksBinary(m_path)) {
        // A text file that was read as a binary workbook must not come back as one.
        m_lastError =
            QStringLiteral("unsupported: %1 is a text file; saving it as \"%2\" would change its format")
                .arg(m_path, filter);
        return false;
    }
    try {
        const QString options = saveFilterOptions();
        css::uno::Sequence<css::beans::PropertyValue> args(options.isEmpty() ? 2 : 3);
        args[0] = makeProperty("FilterName", Any(toOUString(filter)));
        args[1] = makeProperty("Overwrite", Any(true));
        if (!options.isEmpty())
            args[2] = makeProperty("FilterOptions", Any(toOUString(options)));
        const Reference<css::frame::XStorable> storable(m_document, UNO_QUERY_THROW);
        storable->storeToURL(toOUString(QUrl::fromLocalFile(tempPath).toString(QUrl::FullyEncoded)), args);
    } catch (const css::lang::DisposedException& e) {
        // The office went away in the middle: what it wrote is dropped with the temporary file
        // and the workbook stays as it was; the next workbook starts a fresh office.
        m_lastError = QStringLiteral("LibreOffice went away while saving %1 (%2); the file is left as it was")
                          .arg(m_path, toQString(e.Message));
        return false;
    } catch (const css::uno::Exception& e) {
        m_lastError =
            QStringLiteral("LibreOffice could not save %1 as \"%2\": %3").arg(m_path, filter, describe(e));
        return false;
    }
    if (QFileInfo(tempPath).size() == 0) {
        m_lastError =
            QStringLiteral("LibreOffice wrote nothing when saving %1 as \"%2\"").arg(m_path, filter);
        return false;
    }
    // Calc writes the sheet its import had shown as visible even when it is hidden (the sheet
    // at that place changes when one before it is deleted), and very hidden sheets as hidden.
    try {
        if (isOoxmlFilter(filter) && !restoreSheetStates(tempPath))
            return false;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
    if (!temp.commit()) {
        m_lastError = temp.errorString();
        return false;
    }
    try {
        const Reference<css::util::XModifiable> modifiable(m_document, UNO_QUERY);
        if (modifiable.is())
            modifiable->setModified(false);
    } catch (const css::uno::Exception&) {
        // The file is saved; a later save would only write the same again.
    }
    return true;
}

void LibreOfficeWorkbook::close()
{
    m_sheets.clear();
    m_sheetsLoaded = false;
    m_formats.clear();
    if (!m_document.is())
        return;
    try {
        const Reference<css::util::XCloseable> closeable(m_document, UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
        else
            m_document->dispose();
    } catch (const css::uno::Exception&) {
        // A document that refuses or an office that is gone: nothing more can be done here.
        try {
            m_document->dispose();
        } catch (const css::uno::Exception&) {
        }
    }
    m_document.clear();
}

} // namespace corvane::automation::libreoffice
