// Times the engine on a folder of workbooks the way the find-and-replace job drives it: open,
// find in each sheet's used range, replace, save when something matched. Also tracks the heap:
// the peak a workbook adds over what was in use before it, against the size of its largest
// sheet part plus its shared strings.
#include "heapmeter.h"

#include "automation/native/nativeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Uncompressed size of the largest worksheet part plus the shared strings part.
long long partBudget(const QString& path)
{
    int err = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &err);
    if (!z)
        return 0;
    long long sheet = 0, strings = 0;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st) != 0)
            continue;
        const QString name = QString::fromUtf8(st.name);
        if (name.contains(QLatin1String("worksheets/sheet")))
            sheet = std::max(sheet, static_cast<long long>(st.size));
        else if (name.endsWith(QLatin1String("sharedStrings.xml")))
            strings = static_cast<long long>(st.size);
    }
    zip_discard(z);
    return sheet + strings;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace corvane::automation;
    if (argc < 2) {
        std::fprintf(stderr, "usage: enginebench FOLDER [FIND REPLACEMENT]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString what = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("needle");
    const QString replacement = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("pin");

    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    std::vector<long long> budgets;
    for (const QString& f : files)
        budgets.push_back(partBudget(f));

    native::NativeServer server;
    int opened = 0, matched = 0, failed = 0;
    double worstRatio = 0;
    long long worstPeak = 0, worstBudget = 0;
    QElapsedTimer timer;
    timer.start();
    for (size_t i = 0; i < static_cast<size_t>(files.size()); ++i) {
        corvane::bench::resetHeapPeak();
        const long long base = corvane::bench::heapInUse();
        {
            auto wb = server.open(files[static_cast<int>(i)]);
            if (!wb) {
                ++failed;
                continue;
            }
            ++opened;
            bool found = false;
            for (int s = 1; s <= wb->sheetCount(); ++s) {
                Sheet* sheet = wb->sheet(s);
                const auto used = sheet->usedRange();
                if (!used)
                    continue;
                if (!found && sheet->find(*used, {what, LookIn::Formulas, LookAt::Part}))
                    found = true;
                sheet->replace(*used, what, replacement);
            }
            if (found) {
                ++matched;
                if (!wb->save())
                    ++failed;
            }
            wb->close();
        }
        const long long peak = corvane::bench::heapPeak() - base;
        const double ratio = budgets[i] ? static_cast<double>(peak) / static_cast<double>(budgets[i]) : 0;
        if (ratio > worstRatio) {
            worstRatio = ratio;
            worstPeak = peak;
            worstBudget = budgets[i];
        }
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    std::printf(
        "engine: %d workbooks opened, %d matched and saved, %d failed, %.3f s (%.2f ms per workbook)\n",
        opened, matched, failed, seconds, 1000 * seconds / std::max(1, opened));
    std::printf("engine heap: worst workbook peak %.1f KiB = %.2f x (largest sheet part + shared strings = "
                "%.1f KiB)\n",
                static_cast<double>(worstPeak) / 1024, worstRatio, static_cast<double>(worstBudget) / 1024);
    std::printf("seconds=%.6f\n", seconds);
    return failed ? 1 : 0;
}
