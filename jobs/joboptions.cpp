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
    return settings;
}

automation::ReplaceOptions replaceOptions(const JobOptions& options)
{
    return {options.findText, options.replaceText, options.justShow};
}

} // namespace corvane::jobs
