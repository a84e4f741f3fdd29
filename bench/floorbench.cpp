// The floor the engine is measured against: per workbook only the zip work the engine cannot
// avoid. Inflate the workbook, sheet and shared-strings parts, look for the text in the raw
// bytes, and when it is there re-deflate those parts with zlib at level 6 (as the engine's
// deflate must at least match) and write the package back, copying the other entries raw.
#include "heapmeter.h"

#include "automation/native/deflatedsource.h"

#include <zip.h>
#include <zlib.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void listWorkbooks(const std::string& dir, std::vector<std::string>& out)
{
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            listWorkbooks(path, out);
        else if (name.size() > 5 && (name.compare(name.size() - 5, 5, ".xlsx") == 0 ||
                                     name.compare(name.size() - 5, 5, ".xlsm") == 0))
            out.push_back(path);
    }
    closedir(d);
}

bool inflate(zip_t* z, zip_uint64_t index, std::string& out)
{
    zip_file_t* f = zip_fopen_index(z, index, 0);
    if (!f)
        return false;
    out.clear();
    char buf[1 << 16];
    zip_int64_t n;
    while ((n = zip_fread(f, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    zip_fclose(f);
    return n == 0;
}

// libzip would deflate a replaced entry at level 9 whatever it is told, so the floor deflates
// at level 6 itself and hands libzip the stream to store.
zip_source_t* deflatedAtLevel6(zip_t* z, const std::string& data)
{
    z_stream s{};
    if (deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return nullptr;
    std::string out(deflateBound(&s, static_cast<uLong>(data.size())), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    if (rc != Z_STREAM_END)
        return nullptr;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    return corvane::automation::native::deflatedSource(z, std::move(out), data.size(), crc);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: floorbench FOLDER [FIND]\n");
        return 2;
    }
    const std::string what = argc > 2 ? argv[2] : "needle";
    std::vector<std::string> files;
    listWorkbooks(argv[1], files);
    std::sort(files.begin(), files.end());
    int opened = 0, matched = 0, failed = 0;
    long long worstPeak = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::string& path : files) {
        corvane::bench::resetHeapPeak();
        const long long base = corvane::bench::heapInUse();
        int err = 0;
        zip_t* z = zip_open(path.c_str(), 0, &err);
        if (!z) {
            ++failed;
            continue;
        }
        ++opened;
        std::vector<std::pair<zip_uint64_t, std::string>> parts;
        bool found = false;
        const zip_int64_t n = zip_get_num_entries(z, 0);
        for (zip_int64_t i = 0; i < n; ++i) {
            const std::string name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
            if (name.find("worksheets/sheet") == std::string::npos &&
                name.find("sharedStrings.xml") == std::string::npos &&
                name.find("xl/workbook.xml") == std::string::npos)
                continue;
            std::string data;
            if (!inflate(z, static_cast<zip_uint64_t>(i), data)) {
                ++failed;
                continue;
            }
            if (data.find(what) != std::string::npos)
                found = true;
            parts.emplace_back(static_cast<zip_uint64_t>(i), std::move(data));
        }
        if (!found) {
            zip_discard(z);
            worstPeak = std::max(worstPeak, corvane::bench::heapPeak() - base);
            continue;
        }
        ++matched;
        for (auto& [index, data] : parts) {
            zip_source_t* src = deflatedAtLevel6(z, data);
            if (!src || zip_file_replace(z, index, src, 0) != 0) {
                if (src)
                    zip_source_free(src);
                ++failed;
            }
        }
        if (zip_close(z) != 0) {
            ++failed;
            zip_discard(z);
        }
        worstPeak = std::max(worstPeak, corvane::bench::heapPeak() - base);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "floor: %d workbooks opened, %d matched and saved, %d failed, %.3f s (%.2f ms per workbook)\n",
        opened, matched, failed, seconds, 1000 * seconds / std::max(1, opened));
    std::printf("floor heap: worst workbook peak %.1f KiB\n", static_cast<double>(worstPeak) / 1024);
    std::printf("seconds=%.6f\n", seconds);
    return failed ? 1 : 0;
}
