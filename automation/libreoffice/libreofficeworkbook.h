// A workbook open in LibreOffice. It owns its sheets and remembers the filter the file was
// read with, so save() writes the same format back through a temporary file and a rename.
#pragma once

#include "automation/workbook.h"
#include "unoutil.h"

#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/util/XNumberFormats.hpp>

#include <map>
#include <memory>
#include <vector>

namespace corvane::automation::libreoffice {

class LibreOfficeSheet;

class LibreOfficeWorkbook : public Workbook
{
public:
    // `document` is a loaded spreadsheet document; `filter` the import filter LibreOffice
    // chose and `filterOptions` its options (CSV), both taken from the load.
    LibreOfficeWorkbook(css::uno::Reference<css::lang::XComponent> document, QString path, QString filter,
                        QString filterOptions, css::uno::Reference<css::uno::XComponentContext> office = {});
    ~LibreOfficeWorkbook() override;

    int sheetCount() override;
    Sheet* sheet(int index) override;
    bool deleteSheet(int index) override;
    // Calc renames the sheet and follows the references to it; links into it are followed here.
    bool renameSheet(int index, const QString& name) override;
    // Reports the external links as out of reach (libreofficeplaces.cpp).
    PlaceOutcome replaceInPlaces(const PlaceEdit& edit) override;
    bool save() override;
    void close() override;
    QString lastError() const override { return m_lastError; }
    // LibreOffice reads the whole file when it opens it; what it cannot read fails the open.
    QString damage() const override { return {}; }

    // An edit on the workbook failed or was refused: it is not saved any more, since what
    // was done before would pass for the whole job. The first reason is kept.
    void noteFailedEdit(const QString& reason)
    {
        if (m_failedEdit.isEmpty())
            m_failedEdit = reason.isEmpty() ? QStringLiteral("an edit failed") : reason;
    }

    // The export filter save() uses: the file's own format.
    QString saveFilter() const;
    QString saveFilterOptions() const;

    // Whether the number format `key` shows a boolean (LibreOffice keeps booleans as numbers).
    bool isBooleanFormat(sal_Int32 key);
    sal_Int32 standardFormat(sal_Int16 type);

    // The document, for creating drawing objects, and the office's context, for its services.
    css::uno::Reference<css::lang::XComponent> document() const { return m_document; }
    css::uno::Reference<css::uno::XComponentContext> office() const { return m_office; }

private:
    bool loadSheets();
    // Puts each sheet's visibility (very hidden as in the original file) into the workbook part
    // of the package LibreOffice saved at `savedPath`.
    bool restoreSheetStates(const QString& savedPath);
    // Points the links in cells that lead into a renamed sheet at its new name.
    void relinkToRenamedSheet(const QString& oldName, const QString& newName);

    css::uno::Reference<css::lang::XComponent> m_document;
    css::uno::Reference<css::util::XNumberFormats> m_formats;
    css::uno::Reference<css::uno::XComponentContext> m_office;
    QString m_path;
    QString m_filter;
    QString m_filterOptions;
    QString m_lastError;
    QString m_failedEdit;
    std::vector<std::unique_ptr<LibreOfficeSheet>> m_sheets;
    bool m_sheetsLoaded = false;
    std::map<sal_Int32, bool> m_booleanFormats;
    // The name each renamed sheet had in the file, by its current name.
    std::map<QString, QString> m_originalNames;
};

} // namespace corvane::automation::libreoffice
