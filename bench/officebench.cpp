// Times the LibreOffice backend the way the find-and-replace job drives it: open, find in each
// sheet's used range, replace, save when something matched. The office is started before the
// clock runs, so each workbook's figures leave its start out.
#include "automation/libreoffice/libreofficeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <ctime>

#include <unistd.h>

namespace {

// CPU time (user and system, ms) of process `pid` so far, from /proc; -1 when unknown.
qint64 cpuMilliseconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The fields after the command name, which may hold spaces, in parentheses.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const qint64 ticks = fields[11].toLongLong() + fields[12].toLongLong();
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

qint64 ownCpuMilliseconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace corvane::automation;
    if (argc < 2) {
        std::fprintf(stderr, "usage: officebench FOLDER|FILE [FIND REPLACEMENT [list]]\n");
        return 2;
    }
    const QString where = QString::fromLocal8Bit(argv[1]);
    const QString what = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("e");
    const QString replacement = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("E");
    const bool listOnly = argc > 4 && qstrcmp(argv[4], "list") == 0;

    QStringList files;
    if (QFileInfo(where).isFile()) {
        files << where;
    } else {
        QDirIterator it(where, {QStringLiteral("*.xls"), QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        files.sort();
    }

    libreoffice::LibreOfficeServer office;
    if (!office.isAvailable()) {
        std::fprintf(stderr, "LibreOffice could not be started: %s\n", qPrintable(office.lastError()));
        return 1;
    }
    std::printf("office start: %lld ms (not counted below)\n",
                static_cast<long long>(office.startMilliseconds()));

    int failures = 0;
    qint64 total = 0;
    for (const QString& path : files) {
        QElapsedTimer clock;
        clock.start();
        const std::unique_ptr<Workbook> book = office.open(path);
        if (!book) {
            std::printf("%s: open failed: %s\n", qPrintable(path), qPrintable(office.lastError()));
            ++failures;
            continue;
        }
        const qint64 opened = clock.elapsed();
        const qint64 officeCpu = cpuMilliseconds(office.officeProcessId());
        const qint64 ownCpu = ownCpuMilliseconds();
        bool matched = false;
        bool changed = false;
        int refusals = 0;
        int changes = 0;
        // Each change is reported as the find-and-replace job has it, which reads every
        // rewritten cell back.
        const CellChanged count = [&changes](const CellAddress&, const QString&, const QString&) {
            ++changes;
        };
        for (int i = 1; i <= book->sheetCount(); ++i) {
            Sheet* sheet = book->sheet(i);
            const std::optional<RangeAddress> used = sheet ? sheet->usedRange() : std::nullopt;
            if (!used)
                continue;
            if (!matched)
                matched = sheet->find(*used, FindQuery{what, LookIn::Formulas, LookAt::Part}).has_value();
            if (!listOnly) {
                changed = sheet->replace(*used, what, replacement, count) || changed;
                refusals += sheet->replaceRefusal().isEmpty() ? 0 : 1;
            }
        }
        const qint64 replaced = clock.elapsed();
        const qint64 replaceOfficeCpu = cpuMilliseconds(office.officeProcessId()) - officeCpu;
        const qint64 replaceOwnCpu = ownCpuMilliseconds() - ownCpu;
        bool saved = false;
        if (matched && !listOnly) {
            saved = book->save();
            if (!saved) {
                std::printf("%s: save failed: %s\n", qPrintable(path), qPrintable(book->lastError()));
                ++failures;
            }
        }
        book->close();
        const qint64 done = clock.elapsed();
        total += done;
        std::printf("%s: open %lld ms, %s %lld ms (CPU: office %lld ms, this program %lld ms), save %lld ms, "
                    "total %lld ms (matched %d, changed %d, cells changed %d, sheets refused %d)\n",
                    qPrintable(QFileInfo(path).fileName()), static_cast<long long>(opened),
                    listOnly ? "find" : "find+replace", static_cast<long long>(replaced - opened),
                    static_cast<long long>(replaceOfficeCpu), static_cast<long long>(replaceOwnCpu),
                    static_cast<long long>(done - replaced), static_cast<long long>(done), matched, changed,
                    changes, refusals);
        std::fflush(stdout);
    }
    office.quit();
    std::printf("seconds=%.3f\n", static_cast<double>(total) / 1000.0);
    return failures == 0 ? 0 : 1;
}
