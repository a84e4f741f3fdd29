#include "commands.h"

#include "jobrunner.h"

#include <QTextStream>

namespace corvane::cli {

namespace {

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
    c.check = [](const ParsedOptions& o) {
        if (!o.isSet(QStringLiteral("replace")) && !o.isSet(QStringLiteral("list-only")))
            return QStringLiteral("missing option '--replace' (or give --list-only)");
        return QString();
    };
    c.run = [](const ParsedOptions& o, QTextStream& out, QTextStream& err) {
        return runJob(
            o, out, err,
            [&o](jobs::JobOptions& job) {
                job.justShow = o.isSet(QStringLiteral("list-only"));
                job.findText = o.value(QStringLiteral("find"));
                job.replaceText = o.value(QStringLiteral("replace"));
            },
            &jobs::ThreadObject::ReplaceExcelText);
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

} // namespace

std::vector<CommandSpec> jobCommands()
{
    return {replaceCommand(), removeSheetCommand()};
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
