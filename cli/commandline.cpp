#include "commandline.h"

#include "jobs/changereport.h"

#include "run/routingserver.h"

#include <QCoreApplication>
#include <QTextStream>

namespace corvane::cli {

namespace {

const OptionSpec* findOption(const CommandSpec& command, const QString& name)
{
    for (const OptionSpec& o : command.options)
        if (o.name == name)
            return &o;
    return nullptr;
}

QString optionLine(const OptionSpec& o)
{
    QString left = QStringLiteral("  --") + o.name;
    if (!o.valueName.isEmpty())
        left += QLatin1Char(' ') + o.valueName;
    return left.leftJustified(24) + QLatin1Char(' ') + o.help + QLatin1Char('\n');
}

} // namespace

int jobCount(const ParsedOptions& options)
{
    if (!options.isSet(QStringLiteral("jobs")))
        return 0;
    bool number = false;
    const int n = options.value(QStringLiteral("jobs")).toInt(&number);
    return number ? n : -1;
}

std::vector<OptionSpec> commonJobOptions()
{
    return {
        {QStringLiteral("folder"), QStringLiteral("DIR"), true,
         QStringLiteral("folder whose workbooks are changed (recursively); the result lists are "
                        "named DIR followed directly by their names, so end DIR with a separator "
                        "to keep them inside it")},
        {QStringLiteral("first-sheet"), {}, false, QStringLiteral("only the first sheet of each workbook")},
        {QStringLiteral("sheet"), QStringLiteral("NAME"), false,
         QStringLiteral("only sheets with exactly this name")},
        {QStringLiteral("open-lists"), {}, false, QStringLiteral("open the result lists when the run ends")},
        {QStringLiteral("backup"), QStringLiteral("DIR"), false,
         QStringLiteral("copy each workbook into DIR (a new folder outside --folder) before the run "
                        "saves it; 'corvane-cli undo DIR' puts the originals back")},
        {QStringLiteral("report"), QStringLiteral("FILE"), false,
         QStringLiteral("write every change and each workbook's outcome to FILE as the run goes: "
                        "FILE.csv (UTF-8, for spreadsheet applications) or FILE.jsonl (JSON Lines)")},
        {QStringLiteral("dry-run"),
         {},
         false,
         QStringLiteral("do all the work but save no workbook and write no result list (a preview; "
                        "with --report, the report tells what a real run would change)")},
        {QStringLiteral("server"), QStringLiteral("auto|native|libreoffice"), false,
         QStringLiteral("what opens the workbooks: auto (default: the built-in engine, which also "
                        "serves .xls for replace, list-only and the cell rewrites; LibreOffice for "
                        "what the engine cannot do: row, column, picture and sheet work on .xls, "
                        "Excel 5.0/95 and older .xls, and .xls formulas the engine cannot compile), "
                        "native (the engine only) or libreoffice (LibreOffice for all)")},
        {QStringLiteral("jobs"), QStringLiteral("N"), false,
         QStringLiteral("work on up to N workbooks at once (default: one per processor core); the "
                        "output is the same for every N, and LibreOffice takes one at a time")},
    };
}

QString commandUsage(const CommandSpec& command)
{
    QString text = QStringLiteral("Usage: corvane-cli ") + command.name;
    if (!command.positional.isEmpty())
        text += QLatin1Char(' ') + command.positional;
    for (const OptionSpec& o : command.options) {
        QString part = QStringLiteral("--") + o.name;
        if (!o.valueName.isEmpty())
            part += QLatin1Char(' ') + o.valueName;
        text += o.required ? QLatin1Char(' ') + part : QStringLiteral(" [") + part + QLatin1Char(']');
    }
    text += QStringLiteral("\n") + command.summary + QStringLiteral("\n\n");
    for (const OptionSpec& o : command.options)
        text += optionLine(o);
    return text;
}

QString usage(const std::vector<CommandSpec>& commands)
{
    QString text = QStringLiteral("Usage: corvane-cli COMMAND [OPTIONS]\n"
                                  "       corvane-cli --help | --version\n"
                                  "       corvane-cli COMMAND --help\n\n"
                                  "Changes every workbook below a folder, in place: back up first.\n"
                                  "Status lines go to standard output, workbooks that failed to standard\n"
                                  "error as \"path: reason\". Exit status: 0 the run completed, 1 refused,\n"
                                  "cut short or no spreadsheet server, 2 usage error, 130 (SIGINT) or\n"
                                  "143 (SIGTERM) stopped after the workbook in hand; a second signal\n"
                                  "ends the program at once.\n\nCommands:\n");
    for (const CommandSpec& c : commands)
        text += QStringLiteral("  ") + c.name.leftJustified(22) + QLatin1Char(' ') + c.summary +
                QLatin1Char('\n');
    return text;
}

const CommandSpec* parseCommandLine(const QStringList& arguments, const std::vector<CommandSpec>& commands,
                                    ParsedOptions& options, QString& error, QTextStream& out)
{
    error.clear();
    if (arguments.isEmpty()) {
        error = QStringLiteral("no command given");
        return nullptr;
    }
    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        out << usage(commands);
        return nullptr;
    }
    if (first == QLatin1String("--version")) {
        out << "corvane-cli " << QCoreApplication::applicationVersion() << '\n';
        return nullptr;
    }
    const CommandSpec* command = nullptr;
    for (const CommandSpec& c : commands)
        if (c.name == first)
            command = &c;
    if (!command) {
        error = QStringLiteral("unknown command '%1'").arg(first);
        return nullptr;
    }

    for (int i = 1; i < arguments.size(); ++i) {
        const QString arg = arguments.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            out << commandUsage(*command);
            return nullptr;
        }
        if (!arg.startsWith(QLatin1String("--")) && !command->positional.isEmpty() &&
            !options.isSet(command->positional)) {
            options.set(command->positional, arg);
            continue;
        }
        if (!arg.startsWith(QLatin1String("--"))) {
            error = QStringLiteral("unexpected argument '%1'").arg(arg);
            return nullptr;
        }
        QString name = arg.mid(2);
        QString value;
        bool inlineValue = false;
        const int equals = int(name.indexOf(QLatin1Char('=')));
        if (equals >= 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
            inlineValue = true;
        }
        const OptionSpec* option = findOption(*command, name);
        if (!option) {
            error = QStringLiteral("unknown option '--%1' for %2").arg(name, command->name);
            return nullptr;
        }
        if (option->valueName.isEmpty()) {
            if (inlineValue) {
                error = QStringLiteral("option '--%1' takes no value").arg(name);
                return nullptr;
            }
        } else if (!inlineValue) {
            // The value is the next argument whatever it looks like, so "--find --x" searches
            // for "--x" and an empty text can be given as "".
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("option '--%1' needs a value (%2)").arg(name, option->valueName);
                return nullptr;
            }
            value = arguments.at(++i);
        }
        options.set(name, value);
    }

    if (!command->positional.isEmpty() && !options.isSet(command->positional)) {
        error = QStringLiteral("missing %1").arg(command->positional);
        return nullptr;
    }
    for (const OptionSpec& o : command->options)
        if (o.required && !options.isSet(o.name)) {
            error = QStringLiteral("missing option '--%1'").arg(o.name);
            return nullptr;
        }
    if (options.isSet(QStringLiteral("server")) &&
        !automation::parseServerChoice(options.value(QStringLiteral("server")))) {
        error = QStringLiteral("unknown server '%1' (auto, native or libreoffice)")
                    .arg(options.value(QStringLiteral("server")));
        return nullptr;
    }
    if (options.isSet(QStringLiteral("report")) &&
        !jobs::reportFormatFor(options.value(QStringLiteral("report")))) {
        error = QStringLiteral("option '--report' needs a file ending in .csv or .jsonl");
        return nullptr;
    }
    if (options.isSet(QStringLiteral("jobs")) && jobCount(options) < 1) {
        error = QStringLiteral("option '--jobs' needs a whole number of at least 1");
        return nullptr;
    }
    if (command->check)
        error = command->check(options);
    return error.isEmpty() ? command : nullptr;
}

} // namespace corvane::cli
