#include "deflatedsource.h"

#include <libdeflate.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace corvane::automation::native {

namespace {

struct CompressorDeleter
{
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Allocating a compressor costs more than deflating a small part: one per thread, kept.
libdeflate_compressor* compressor()
{
    thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> c(libdeflate_alloc_compressor(6));
    return c.get();
}

struct Deflated
{
    std::string bytes;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::size_t at = 0;
    zip_error_t error;
};

zip_int64_t deflatedCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* d = static_cast<Deflated*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        d->at = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(length), d->bytes.size() - d->at);
        std::memcpy(data, d->bytes.data() + d->at, n);
        d->at += n;
        return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        if (length < sizeof(zip_stat_t)) {
            zip_error_set(&d->error, ZIP_ER_INVAL, 0);
            return -1;
        }
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC |
                    ZIP_STAT_ENCRYPTION_METHOD;
        st->size = d->size;
        st->comp_size = d->bytes.size();
        st->comp_method = ZIP_CM_DEFLATE;
        st->encryption_method = ZIP_EM_NONE;
        st->crc = d->crc;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&d->error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&d->error);
        delete d;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&d->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

namespace {

// zlib at level 6 in pieces: libdeflate needs room for the whole worst case next to the input,
// which for a part of hundreds of megabytes would double what the save holds.
std::string deflateStreaming(std::string_view data)
{
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    std::string out;
    char buffer[1 << 16];
    size_t at = 0;
    int rc = Z_OK;
    do {
        const size_t chunk = std::min<size_t>(data.size() - at, 1u << 30);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
        z.avail_in = static_cast<uInt>(chunk);
        at += chunk;
        const int flush = at == data.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            rc = deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    } while (rc != Z_STREAM_END && at < data.size());
    while (rc != Z_STREAM_END) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = deflate(&z, Z_FINISH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    deflateEnd(&z);
    return out;
}

constexpr size_t kWholeBufferLimit = 32u << 20;

} // namespace

std::string deflateRaw(std::string_view data)
{
    if (data.size() > kWholeBufferLimit)
        return deflateStreaming(data);
    libdeflate_compressor* c = compressor();
    if (!c)
        throw std::bad_alloc();
    std::string out(libdeflate_deflate_compress_bound(c, data.size()), '\0');
    const std::size_t n = libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size());
    out.resize(n); // never 0: the bound always fits
    return out;
}

bool inflateRaw(std::string_view compressed, std::string& out, std::size_t& written)
{
    thread_local std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!d)
        throw std::bad_alloc();
    written = 0;
    return libdeflate_deflate_decompress(d.get(), compressed.data(), compressed.size(), out.data(),
                                         out.size(), &written) == LIBDEFLATE_SUCCESS;
}

std::uint32_t crc32Of(std::string_view data)
{
    return static_cast<std::uint32_t>(libdeflate_crc32(0, data.data(), data.size()));
}

zip_source* deflatedSource(zip* archive, std::string compressed, std::uint64_t size, std::uint32_t crc)
{
    auto* d = new Deflated;
    d->bytes = std::move(compressed);
    d->size = size;
    d->crc = crc;
    zip_error_init(&d->error);
    zip_source_t* src = zip_source_function(archive, deflatedCallback, d);
    if (!src) {
        zip_error_fini(&d->error);
        delete d;
    }
    return src;
}

zip_source* deflatedSource(zip* archive, std::string_view data)
{
    const auto crc = static_cast<std::uint32_t>(libdeflate_crc32(0, data.data(), data.size()));
    return deflatedSource(archive, deflateRaw(data), data.size(), crc);
}

} // namespace corvane::automation::native
