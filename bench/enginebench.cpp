// Times the engine on a folder of workbooks the way the find-and-replace job drives it: open,
// find in each sheet's used range, replace, save when something matched. Also tracks the heap:
// the peak a workbook adds over what was in use before it, against the size of its largest
// sheet part plus its shared strings.
#include "automation/native/nativeserver.h"
#include "automation/sheet.h"
#include "automation/workbook.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <zip.h>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

// Heap accounting by interposing the allocator (glibc keeps the real one as __libc_*).
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {
std::atomic<long long> g_inUse{0};
std::atomic<long long> g_peak{0};

void track(long long delta)
{
    const long long now = g_inUse += delta;
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}
} // namespace

extern "C" {
void* malloc(size_t n)
{
    void* p = __libc_malloc(n);
    if (p)
        track(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
void* calloc(size_t n, size_t m)
{
    void* p = __libc_calloc(n, m);
    if (p)
        track(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
void* realloc(void* old, size_t n)
{
    const long long before = old ? static_cast<long long>(malloc_usable_size(old)) : 0;
    void* p = __libc_realloc(old, n);
    if (p)
        track(static_cast<long long>(malloc_usable_size(p)) - before);
    else if (n == 0)
        track(-before);
    return p;
}
void free(void* p)
{
    if (p)
        track(-static_cast<long long>(malloc_usable_size(p)));
    __libc_free(p);
}
void* memalign(size_t a, size_t n)
{
    void* p = __libc_memalign(a, n);
    if (p)
        track(static_cast<long long>(malloc_usable_size(p)));
    return p;
}
int posix_memalign(void** out, size_t a, size_t n)
{
    void* p = __libc_memalign(a, n);
    if (!p)
        return 12;
    track(static_cast<long long>(malloc_usable_size(p)));
    *out = p;
    return 0;
}
void* aligned_alloc(size_t a, size_t n)
{
    return memalign(a, n);
}
}

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
        const long long base = g_inUse.load();
        g_peak = base;
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
        const long long peak = g_peak.load() - base;
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
