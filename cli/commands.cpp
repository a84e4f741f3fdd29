#include "commands.h"

#include "jobrunner.h"

#include "jobs/backup.h"
#include "jobs/launch.h"
#include "jobs/picturejob.h"

#include <QStringList>
#include <QTextStream>

#include <utility>

namespace corvane::cli {

namespace {

QString alsoPlaceNames()
{
    QStringList names;
    for (automation::ReplacePlace place : automation::ReplacePlaces::all())
        names << automation::ReplacePlaces::name(place);
    return names.join(QLatin1Char(','));
}

CommandSpec replaceCommand()
{
    CommandSpec c;
    c.name = QStringLiteral("replace");
    c.summary = QStringLiteral("find a text on the selected sheets and replace it, or only list the "
                               "workbooks that hold it");
    c.options = commonJobOptions();
    c.options.push_back({QStringLiteral("find"), QStringLiteral("TEXT"), true,
                         QStringLiteral("text to find (* ? ~ are wildcards; letter case is ignored)")});
    c.options.push_back({QStringLiteral("replace"), QStringLiteral("TEXT"), false,
                         QStringLiteral("text put in its place (required unless --list-only)")});
    c.options.push_back({QStringLiteral("list-only"),
                         {},
                         false,
                         QStringLiteral("change nothing; only list the workbooks that hold the text")});
    c.options.push_back(
        {QStringLiteral("also"), QStringLiteral("PLACES"), false,
         QStringLiteral("also find and replace in these places, joined by commas: ") + alsoPlaceNames()});
    c.check = [](const ParsedOptions& o) {
        if (!o.isSet(QStringLiteral("replace")) && !o.isSet(QStringLiteral("list-only")))
            return QStringLiteral("missing option '--replace' (or give --list-only)");
        automation::ReplacePlaces places;
        QString unknown;
        if (o.isSet(QStringLiteral("also")) &&
            !automation::ReplacePlaces::parse(o.value(QStringLiteral("also")), places, &unknown))
            return QStringLiteral("unknown place '%1' in --also (known: %2)").arg(unknown, alsoPlaceNames());
        return QString();
    };
    c.run = [](const ParsedOptions& o, QTextStream& out, QTextStream& err) {
        return runJob(
            o, out, err,
            [&o](jobs::JobOptions& job) {
                job.justShow = o.isSet(QStringLiteral("list-only"));
                job.findText = o.value(QStringLiteral("find"));
                job.replaceText = o.value(QStringLiteral("replace"));
                automation::ReplacePlaces places;
                automation::ReplacePlaces::parse(o.value(QStringLiteral("also")), places);
                job.alsoReplace = places;
            },
            &jobs::ThreadObject::ReplaceExcelText);
    };
    return c;
}

// The window's four rewrite buttons by name, with the flag each sets.
const std::vector<std::pair<QString, bool jobs::JobOptions::*>>& rewriteModes()
{
    static const std::vector<std::pair<QString, bool jobs::JobOptions::*>> modes = {
        {QStringLiteral("fill-text"), &jobs::JobOptions::fillTextMode},
        {QStringLiteral("change-text"), &jobs::JobOptions::changeTextMode},
        {QStringLiteral("fill-formula"), &jobs::JobOptions::fillFormulaMode},
        {QStringLiteral("change-formula"), &jobs::JobOptions::changeFormulaMode},
    };
    return modes;
}

// The row and column operations, then every mode the cells command knows.
const std::vector<std::pair<QString, bool jobs::JobOptions::*>>& rowColumnModes()
{
    static const std::vector<std::pair<QString, bool jobs::JobOptions::*>> modes = {
        {QStringLiteral("delete-row"), &jobs::JobOptions::deleteRowMode},
        {QStringLiteral("delete-column"), &jobs::JobOptions::deleteColumnMode},
        {QStringLiteral("insert-row"), &jobs::JobOptions::addRowMode},
        {QStringLiteral("insert-column"), &jobs::JobOptions::addColumnMode},
    };
    return modes;
}

bool isMode(const std::vector<std::pair<QString, bool jobs::JobOptions::*>>& modes, const QString& mode)
{
    for (const auto& [name, field] : modes) {
        (void)field;
        if (name == mode)
            return true;
    }
    return false;
}

// The offset options and their fields; the window's spin boxes hold 0 to 99.
const std::vector<std::pair<QString, int jobs::JobOptions::*>>& offsetOptions()
{
    static const std::vector<std::pair<QString, int jobs::JobOptions::*>> offsets = {
        {QStringLiteral("right"), &jobs::JobOptions::cellRight},
        {QStringLiteral("left"), &jobs::JobOptions::cellLeft},
        {QStringLiteral("down"), &jobs::JobOptions::cellDown},
        {QStringLiteral("up"), &jobs::JobOptions::cellUp},
    };
    return offsets;
}

constexpr int kMaxOffset = 99;

// The options that locate cells, shared by the cell and picture commands. `findNote` says what
// the command searches; `formulasHelp` what --in-formulas does for it.
void addLocatingOptions(CommandSpec& c, const QString& findNote, const QString& formulasHelp)
{
    c.options.push_back({QStringLiteral("find"), QStringLiteral("TEXT"), false,
                         QStringLiteral("locate the cells holding this text (* ? ~ are wildcards; letter "
                                        "case is ignored); ") +
                             findNote});
    c.options.push_back(
        {QStringLiteral("whole-cell"), {}, false, QStringLiteral("the find text must be the whole cell")});
    c.options.push_back({QStringLiteral("in-formulas"), {}, false, formulasHelp});
    c.options.push_back({QStringLiteral("range"), QStringLiteral("A1:C7"), false,
                         QStringLiteral("search this range of each sheet instead of its used range")});
    for (const auto& [name, field] : offsetOptions()) {
        (void)field;
        c.options.push_back({name, QStringLiteral("N"), false,
                             QStringLiteral("move the target N cells %1 of each match (0 to 99)").arg(name)});
    }
    c.options.push_back({QStringLiteral("cells"), QStringLiteral("B3,D5,F2"), false,
                         QStringLiteral("work these cells instead of searching (no offsets)")});
    c.options.push_back({QStringLiteral("once-per-sheet"),
                         {},
                         false,
                         QStringLiteral("with --find: at most one cell per sheet")});
    c.options.push_back({QStringLiteral("once-per-workbook"),
                         {},
                         false,
                         QStringLiteral("at most one cell per workbook; with --cells: skip a workbook's "
                                        "later sheets once a list ending in a cell is done")});
}

// A whole number from `low` to `high` in option `name` when it is given; an error text or "".
QString checkNumber(const ParsedOptions& o, const QString& name, int low, int high)
{
    if (!o.isSet(name))
        return QString();
    bool number = false;
    const int n = o.value(name).toInt(&number);
    if (!number || n < low || n > high)
        return QStringLiteral("option '--%1' needs a whole number from %2 to %3")
            .arg(name)
            .arg(low)
            .arg(high);
    return QString();
}

QString checkLocating(const ParsedOptions& o)
{
    const bool find = o.isSet(QStringLiteral("find"));
    const bool cells = o.isSet(QStringLiteral("cells"));
    if (find == cells)
        return QStringLiteral("give either '--find' or '--cells'");
    if (cells) {
        for (const QString& searchOnly :
             {QStringLiteral("whole-cell"), QStringLiteral("in-formulas"), QStringLiteral("range"),
              QStringLiteral("right"), QStringLiteral("left"), QStringLiteral("down"), QStringLiteral("up")})
            if (o.isSet(searchOnly))
                return QStringLiteral("option '--%1' goes with '--find', not '--cells'").arg(searchOnly);
    }
    for (const auto& [name, field] : offsetOptions()) {
        (void)field;
        const QString error = checkNumber(o, name, 0, kMaxOffset);
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

void fillLocating(const ParsedOptions& o, jobs::JobOptions& job)
{
    job.cellFindText = o.value(QStringLiteral("find"));
    for (const auto& [name, field] : offsetOptions())
        job.*field = o.value(name).toInt();
    job.textFullMatch = o.isSet(QStringLiteral("whole-cell"));
    job.findInFormula = o.isSet(QStringLiteral("in-formulas"));
    job.sheetFillOnce = o.isSet(QStringLiteral("once-per-sheet"));
    job.workbookFillOnce = o.isSet(QStringLiteral("once-per-workbook"));
    job.findRangeOn = o.isSet(QStringLiteral("range"));
    if (job.findRangeOn)
        job.findRange = o.value(QStringLiteral("range")).trimmed();
    job.appointCellOn = o.isSet(QStringLiteral("cells"));
    if (job.appointCellOn)
        job.appointCells = o.value(QStringLiteral("cells")).trimmed();
}

// The cell launch's refusals.
LaunchChecks locatingChecks()
{
    LaunchChecks checks;
    checks.beforeLists = [](const jobs::JobOptions& job) {
        return jobs::appointedCellsMissing(job) ? jobs::appointedCellsMissingMessage() : QString();
    };
    checks.afterFolder = [](const jobs::JobOptions& job) {
        return jobs::nothingToLocate(job) ? jobs::nothingToLocateMessage() : QString();
    };
    return checks;
}

// The picture offsets and sizes with their fields and ranges, as the window's spin boxes hold them.
struct PictureNumber
{
    const char* name;
    int jobs::JobOptions::*field;
    int high;
    const char* help;
};
const std::vector<PictureNumber>& pictureNumbers()
{
    static const std::vector<PictureNumber> numbers = {
        {"pic-right", &jobs::JobOptions::picRight, 99, "move the picture N points right (0 to 99)"},
        {"pic-left", &jobs::JobOptions::picLeft, 99, "move the picture N points left (0 to 99)"},
        {"pic-down", &jobs::JobOptions::picDown, 99, "move the picture N points down (0 to 99)"},
        {"pic-up", &jobs::JobOptions::picUp, 99, "move the picture N points up (0 to 99)"},
        {"width", &jobs::JobOptions::picWidth, 999, "picture width in points, 0 for its own (0 to 999)"},
        {"height", &jobs::JobOptions::picHeight, 999, "picture height in points, 0 for its own (0 to 999)"},
    };
    return numbers;
}

CommandSpec pictureCommand()
{
    CommandSpec c;
    c.name = QStringLiteral("picture");
    c.summary = QStringLiteral("locate cells by a search or by their addresses and place a picture at each "
                               "one, deleting the drawing objects just above it first when asked");
    c.options = commonJobOptions();
    c.options.push_back({QStringLiteral("picture"), QStringLiteral("FILE"), false,
                         QStringLiteral("the picture to insert; without it nothing is inserted (with "
                                        "--delete-old, only deleted)")});
    c.options.push_back({QStringLiteral("transparent"),
                         {},
                         false,
                         QStringLiteral("insert a copy whose pixels of the colour of the pixel at (1,1) "
                                        "are transparent (FILE.png, deleted after the run)")});
    c.options.push_back({QStringLiteral("delete-old"),
                         {},
                         false,
                         QStringLiteral("first delete the drawing objects whose top-left cell is the cell "
                                        "just above each target")});
    for (const PictureNumber& n : pictureNumbers())
        c.options.push_back(
            {QString::fromLatin1(n.name), QStringLiteral("N"), false, QString::fromLatin1(n.help)});
    addLocatingOptions(c, QStringLiteral("values, or formulas with --in-formulas"),
                       QStringLiteral("search formulas instead of values"));
    c.check = [](const ParsedOptions& o) {
        for (const PictureNumber& n : pictureNumbers()) {
            const QString error = checkNumber(o, QString::fromLatin1(n.name), 0, n.high);
            if (!error.isEmpty())
                return error;
        }
        return checkLocating(o);
    };
    c.run = [](const ParsedOptions& o, QTextStream& out, QTextStream& err) {
        LaunchChecks checks = locatingChecks();
        const auto nothingToLocate = checks.afterFolder;
        checks.afterFolder = [nothingToLocate](const jobs::JobOptions& job) {
            if (jobs::picturePathWrong(job))
                return jobs::picturePathWrongMessage();
            return nothingToLocate(job);
        };
        checks.beforeRun = [&out](jobs::JobOptions& job) {
            if (!jobs::wantsTransparentCopy(job))
                return;
            out << jobs::convertingPictureMessage() << '\n';
            out.flush();
            jobs::makeTransparentCopy(job);
        };
        return runJob(
            o, out, err,
            [&o](jobs::JobOptions& job) {
                fillLocating(o, job);
                job.picPath = o.value(QStringLiteral("picture")).trimmed();
                job.picTransparent = o.isSet(QStringLiteral("transparent"));
                job.picDeleteOld = o.isSet(QStringLiteral("delete-old"));
                for (const PictureNumber& n : pictureNumbers())
                    job.*(n.field) = o.value(QString::fromLatin1(n.name)).toInt();
            },
            &jobs::ThreadObject::PicInsert, checks);
    };
    return c;
}

CommandSpec cellsCommand()
{
    CommandSpec c;
    c.name = QStringLiteral("cells");
    c.summary = QStringLiteral("locate cells by a search or by their addresses and write a new text or "
                               "formula into them, replace the found text inside them, or delete "
                               "or insert their rows or columns");
    c.options = commonJobOptions();
    c.options.push_back({QStringLiteral("mode"), QStringLiteral("MODE"), true,
                         QStringLiteral("fill-text, change-text, fill-formula or change-formula; or "
                                        "delete-row, delete-column, insert-row or insert-column: the "
                                        "whole row or column of each located cell (offsets ignored)")});
    c.options.push_back({QStringLiteral("text"), QStringLiteral("TEXT"), false,
                         QStringLiteral("the new text or formula; with change-*, what replaces the find "
                                        "text (letter case must match there); the rewrite modes "
                                        "need it")});
    c.options.push_back({QStringLiteral("below-or-right"),
                         {},
                         false,
                         QStringLiteral("insert-row and insert-column: insert below or right of each "
                                        "located cell instead of above or left")});
    addLocatingOptions(c, QStringLiteral("the text modes search values, the formula modes formulas"),
                       QStringLiteral("search formulas (used by the row and column operations only)"));
    c.check = [](const ParsedOptions& o) {
        const QString mode = o.value(QStringLiteral("mode"));
        const bool rewrite = isMode(rewriteModes(), mode);
        if (!rewrite && !isMode(rowColumnModes(), mode))
            return QStringLiteral("unknown mode '%1' (fill-text, change-text, fill-formula, "
                                  "change-formula, delete-row, delete-column, insert-row or "
                                  "insert-column)")
                .arg(mode);
        if (rewrite && !o.isSet(QStringLiteral("text")))
            return QStringLiteral("mode '%1' needs '--text'").arg(mode);
        if (!rewrite && o.isSet(QStringLiteral("text")))
            return QStringLiteral("mode '%1' writes no text: leave out '--text'").arg(mode);
        if (o.isSet(QStringLiteral("below-or-right")) && !mode.startsWith(QLatin1String("insert-")))
            return QStringLiteral("'--below-or-right' goes with insert-row and insert-column");
        return checkLocating(o);
    };
    c.run = [](const ParsedOptions& o, QTextStream& out, QTextStream& err) {
        const LaunchChecks checks = locatingChecks();
        return runJob(
            o, out, err,
            [&o](jobs::JobOptions& job) {
                jobs::clearCellModes(job);
                for (const auto* modes : {&rewriteModes(), &rowColumnModes()})
                    for (const auto& [name, field] : *modes)
                        if (name == o.value(QStringLiteral("mode")))
                            job.*field = true;
                fillLocating(o, job);
                job.cellFillText = o.value(QStringLiteral("text"));
                job.insertDownOrRight = o.isSet(QStringLiteral("below-or-right"));
            },
            &jobs::ThreadObject::CellFillText, checks);
    };
    return c;
}

// The command line is the confirmation the window asks for.
CommandSpec removeSheetCommand()
{
    CommandSpec c;
    c.name = QStringLiteral("remove-sheet");
    c.summary = QStringLiteral("delete one sheet from every workbook: the first sheet, or the first one "
                               "named exactly as --sheet says (with --first-sheet too, only if sheet 1 "
                               "has that name); this cannot be undone");
    c.options = commonJobOptions();
    c.run = [](const ParsedOptions& o, QTextStream& out, QTextStream& err) {
        return runJob(
            o, out, err, [](jobs::JobOptions&) {}, &jobs::ThreadObject::RemoveSheet);
    };
    return c;
}

CommandSpec undoCommand()
{
    CommandSpec c;
    c.name = QStringLiteral("undo");
    c.positional = QStringLiteral("BACKUPDIR");
    c.summary = QStringLiteral("put back the workbooks that a run with --backup BACKUPDIR saved, each one "
                               "only while it still holds exactly what that run saved");
    c.run = [](const ParsedOptions& o, QTextStream& out, QTextStream& err) {
        const jobs::UndoReport report = jobs::undoBackup(o.value(QStringLiteral("BACKUPDIR")));
        if (!report.error.isEmpty()) {
            err << report.error << '\n';
            err.flush();
            return int(ExitRefused);
        }
        for (const QString& path : report.restored)
            out << QStringLiteral("restored: ") << path << '\n';
        for (const QString& path : report.unchanged)
            out << QStringLiteral("already as before the run: ") << path << '\n';
        out << QStringLiteral("%1 workbook(s) restored, %2 already as before the run, %3 left as they are")
                   .arg(report.restored.size())
                   .arg(report.unchanged.size())
                   .arg(report.leftAlone.size())
            << '\n';
        out.flush();
        for (const QString& line : report.leftAlone)
            err << line << '\n';
        err.flush();
        return report.leftAlone.isEmpty() ? int(ExitCompleted) : int(ExitRefused);
    };
    return c;
}

} // namespace

std::vector<CommandSpec> jobCommands()
{
    return {replaceCommand(), removeSheetCommand(), cellsCommand(), pictureCommand(), undoCommand()};
}

int runCommandLine(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    const std::vector<CommandSpec> commands = jobCommands();
    ParsedOptions options;
    QString error;
    const CommandSpec* command = parseCommandLine(arguments, commands, options, error, out);
    out.flush();
    if (!command) {
        if (error.isEmpty())
            return ExitCompleted;
        err << "corvane-cli: " << error << "\nTry 'corvane-cli --help'.\n";
        err.flush();
        return ExitUsage;
    }
    return command->run(options, out, err);
}

} // namespace corvane::cli
