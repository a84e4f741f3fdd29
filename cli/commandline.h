// The command line of corvane-cli: a subcommand, then its options. Each subcommand lists the
// options it takes, so a new one slots in as one more entry of the table.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QTextStream;

namespace corvane::cli {

struct OptionSpec
{
    QString name;      // without the leading "--"
    QString valueName; // empty for a switch
    bool required = false;
    QString help;
};

class ParsedOptions
{
public:
    bool isSet(const QString& name) const { return m_values.contains(name); }
    QString value(const QString& name) const { return m_values.value(name); }
    void set(const QString& name, const QString& value) { m_values.insert(name, value); }

private:
    QMap<QString, QString> m_values;
};

// Exit statuses.
enum ExitStatus
{
    ExitCompleted = 0, // the run went through (single workbooks may have failed)
    ExitRefused = 1,   // the launch was refused, the run was cut short, no server could be started,
                       // or a result list could not be written
    ExitUsage = 2      // unknown option, missing value, missing required option
};

struct CommandSpec
{
    QString name;
    QString summary;
    std::vector<OptionSpec> options;
    // The name of the one argument given without "--" (stored as an option of that name); empty
    // when the command takes none.
    QString positional;
    // Checks between options that the table cannot express; returns an error text or "".
    std::function<QString(const ParsedOptions&)> check;
    std::function<int(const ParsedOptions&, QTextStream& out, QTextStream& err)> run;
};

// Options every job command takes (folder, sheet choice, showing the lists).
std::vector<OptionSpec> commonJobOptions();
// The workbooks a run may work on at once as --jobs gives it: 0 when it is not given (as many
// as there are cores), below 0 when it is no whole number.
int jobCount(const ParsedOptions& options);

// Parses `arguments` (without the program name) against `commands`. On success returns the
// command and fills `options`; otherwise returns null with `error` set (usage error), or null
// with `error` empty when help or the version was printed.
const CommandSpec* parseCommandLine(const QStringList& arguments, const std::vector<CommandSpec>& commands,
                                    ParsedOptions& options, QString& error, QTextStream& out);

QString usage(const std::vector<CommandSpec>& commands);
QString commandUsage(const CommandSpec& command);

} // namespace corvane::cli
