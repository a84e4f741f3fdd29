// An open workbook. It owns its sheets; they live until the workbook is closed.
#pragma once

#include "replaceplaces.h"

#include <QString>

namespace corvane::automation {

class Sheet;

class Workbook
{
public:
    virtual ~Workbook() = default;

    virtual int sheetCount() = 0;
    // Sheet by 1-based position; null outside 1..sheetCount().
    virtual Sheet* sheet(int index) = 0;

    // Deletes the sheet at 1-based `index` (a worksheet or a chart sheet, hidden or not); the
    // sheets after it move up one place and the deleted sheet's object must not be used again.
    // References to it from the other sheets and from names become #REF!. False (with
    // lastError) when refused, for example when it is the last visible sheet; the workbook is
    // then unchanged.
    virtual bool deleteSheet(int index) = 0;

    // Renames the sheet at 1-based `index` to `name`; every reference to the sheet in the
    // workbook follows (formulas, defined names, charts, validations, conditional formats,
    // hyperlink locations, document properties). False (with lastError) when refused (an
    // invalid, too long or duplicate name); the workbook is then unchanged.
    virtual bool renameSheet(int index, const QString& name)
    {
        (void)index;
        (void)name;
        return false;
    }

    // The workbook-wide side of Sheet::replaceInPlaces: the external links' targets, for Links.
    virtual PlaceOutcome replaceInPlaces(const PlaceEdit& edit)
    {
        (void)edit;
        return {};
    }

    // Writes the workbook back to its file. False (with lastError) when it could not be
    // saved; the file on disk is then unchanged.
    virtual bool save() = 0;
    // Closes without saving; the workbook and its sheets must not be used afterwards.
    virtual void close() = 0;

    virtual QString lastError() const = 0;
    // Why a part of the workbook that was worked on could not be read (a sheet whose part is
    // damaged, say); empty when nothing failed so. Such a workbook was not worked on as asked,
    // so it must not be saved as if it had been.
    virtual QString damage() const = 0;
};

} // namespace corvane::automation
