#include "libreofficeworkbook.h"

#include "libreofficesheet.h"
#include "platform/savingfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QUrl>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/Locale.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/util/NumberFormat.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/util/XModifiable.hpp>
#include <com/sun/star/util/XNumberFormatTypes.hpp>
#include <com/sun/star/util/XNumberFormatsSupplier.hpp>

#include <cstdio>

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

} // namespace

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
    // BIFF5 and older have no export filter; they are written as BIFF8, still an .xls.
    if (m_filter.startsWith(QLatin1String("MS Excel")) && m_filter != kExcel97 &&
        !m_filter.startsWith(QLatin1String("MS Excel 97")))
        return kExcel97;
    return m_filter;
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
    // Nothing changed: the file on disk already is the workbook, byte for byte.
    try {
        const Reference<css::util::XModifiable> modifiable(m_document, UNO_QUERY);
        if (modifiable.is() && !modifiable->isModified())
            return true;
    } catch (const css::uno::Exception& e) {
        m_lastError = describe(e);
        return false;
    }
    // Write beside the target so the final rename stays on one file system; a link is
    // followed so the file it points to is replaced, not the link.
    const QFileInfo original(m_path);
    const QString target = original.exists() ? original.canonicalFilePath() : original.absoluteFilePath();
    const QFileInfo targetInfo(target);
    QTemporaryFile temp(targetInfo.absolutePath() + QStringLiteral("/.corvane-save-XXXXXX.") +
                        targetInfo.suffix());
    temp.setAutoRemove(false);
    if (!temp.open()) {
        m_lastError = QStringLiteral("cannot save %1: no temporary file in its folder (%2)")
                          .arg(m_path, temp.errorString());
        return false;
    }
    const QString tempPath = temp.fileName();
    temp.close();
    // A program told to end at once removes it; the office writing it ends with the program.
    platform::registerTemporaryFile(tempPath);
    const auto forget = qScopeGuard([&tempPath] { platform::forgetTemporaryFile(tempPath); });

    const QString filter = saveFilter();
    try {
        css::uno::Sequence<css::beans::PropertyValue> args(m_filterOptions.isEmpty() ? 2 : 3);
        args[0] = makeProperty("FilterName", Any(toOUString(filter)));
        args[1] = makeProperty("Overwrite", Any(true));
        if (!m_filterOptions.isEmpty())
            args[2] = makeProperty("FilterOptions", Any(toOUString(m_filterOptions)));
        const Reference<css::frame::XStorable> storable(m_document, UNO_QUERY_THROW);
        storable->storeToURL(toOUString(QUrl::fromLocalFile(tempPath).toString(QUrl::FullyEncoded)), args);
        const Reference<css::util::XModifiable> modifiable(m_document, UNO_QUERY);
        if (modifiable.is())
            modifiable->setModified(false);
    } catch (const css::uno::Exception& e) {
        QFile::remove(tempPath);
        m_lastError =
            QStringLiteral("LibreOffice could not save %1 as \"%2\": %3").arg(m_path, filter, describe(e));
        return false;
    }
    if (QFileInfo(tempPath).size() == 0) {
        QFile::remove(tempPath);
        m_lastError =
            QStringLiteral("LibreOffice wrote nothing when saving %1 as \"%2\"").arg(m_path, filter);
        return false;
    }
    if (targetInfo.exists())
        QFile::setPermissions(tempPath, QFile::permissions(target));
    if (std::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(target).constData()) != 0) {
        QFile::remove(tempPath);
        m_lastError = QStringLiteral("cannot replace %1 with the saved copy").arg(m_path);
        return false;
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
