#include "joboptions.h"

namespace corvane::jobs {

JobOptions& jobOptions()
{
    static JobOptions options;
    return options;
}

automation::RunSettings runSettings(const JobOptions& options)
{
    automation::RunSettings settings;
    settings.sourcePath = options.sourcePath;
    settings.onlyFirstSheet = options.onlyFirstSheet;
    settings.appointedSheet = options.appointedSheet;
    settings.appointedSheetName = options.appointedSheetName;
    settings.dryRun = options.dryRun;
    settings.jobs = options.jobs;
    return settings;
}

automation::ReplaceOptions replaceOptions(const JobOptions& options)
{
    return {options.findText, options.replaceText, options.justShow, options.alsoReplace};
}

automation::CellLocating cellLocating(const JobOptions& options)
{
    automation::CellLocating locating;
    locating.findText = options.cellFindText;
    locating.lookAt = options.textFullMatch ? automation::LookAt::Whole : automation::LookAt::Part;
    locating.findInFormula = options.findInFormula;
    locating.rowOffset = options.cellDown - options.cellUp;
    locating.columnOffset = options.cellRight - options.cellLeft;
    locating.sheetFillOnce = options.sheetFillOnce;
    locating.workbookFillOnce = options.workbookFillOnce;
    locating.findRangeOn = options.findRangeOn;
    locating.findRange = options.findRange;
    locating.appointCellOn = options.appointCellOn;
    locating.appointCells = options.appointCells;
    return locating;
}

std::optional<automation::CellRewriteOptions> cellRewriteOptions(const JobOptions& options)
{
    using automation::CellRewriteMode;
    std::optional<CellRewriteMode> mode;
    if (options.fillTextMode)
        mode = CellRewriteMode::FillText;
    else if (options.changeTextMode)
        mode = CellRewriteMode::ChangeText;
    else if (options.fillFormulaMode)
        mode = CellRewriteMode::FillFormula;
    else if (options.changeFormulaMode)
        mode = CellRewriteMode::ChangeFormula;
    if (!mode)
        return std::nullopt;
    return automation::CellRewriteOptions{*mode, cellLocating(options), options.cellFillText};
}

std::optional<automation::RowColumnOptions> rowColumnOptions(const JobOptions& options)
{
    using automation::RowColumnMode;
    std::optional<RowColumnMode> mode;
    if (options.deleteRowMode)
        mode = RowColumnMode::DeleteRow;
    else if (options.deleteColumnMode)
        mode = RowColumnMode::DeleteColumn;
    else if (options.addRowMode)
        mode = RowColumnMode::AddRow;
    else if (options.addColumnMode)
        mode = RowColumnMode::AddColumn;
    if (!mode)
        return std::nullopt;
    return automation::RowColumnOptions{*mode, cellLocating(options), options.insertDownOrRight};
}

void clearCellModes(JobOptions& options)
{
    options.fillTextMode = false;
    options.changeTextMode = false;
    options.fillFormulaMode = false;
    options.changeFormulaMode = false;
    options.deleteRowMode = false;
    options.deleteColumnMode = false;
    options.addRowMode = false;
    options.addColumnMode = false;
}

} // namespace corvane::jobs
