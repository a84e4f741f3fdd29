// Entries the package writes are deflated here, not by libzip: libzip 1.7 compresses a replaced
// entry that keeps its method at its own default level (9) whatever level is asked for, which
// costs about three times level 6 for a percent of size. libzip stores a source that reports
// itself as deflated byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct zip;
struct zip_source;

namespace corvane::automation::native {

// A raw deflate stream of `data`: libdeflate at level 6 (faster than zlib's level 6 and no larger
// on workbook parts), zlib's level 6 for a part too large to hold twice.
std::string deflateRaw(std::string_view data);

// Inflates the raw deflate stream `compressed` into `out`, which holds the room the entry says it
// needs; `written` is how much it filled. False when the stream is damaged or does not fit.
bool inflateRaw(std::string_view compressed, std::string& out, std::size_t& written);
// The CRC-32 zip entries carry.
std::uint32_t crc32Of(std::string_view data);

// A source that hands libzip `compressed`, the raw deflate stream of `size` bytes whose CRC-32 is
// `crc`, to be stored as it is. Null when libzip could not make the source.
zip_source* deflatedSource(zip* archive, std::string compressed, std::uint64_t size, std::uint32_t crc);

// deflateRaw of `data` made into a source; null as above.
zip_source* deflatedSource(zip* archive, std::string_view data);

} // namespace corvane::automation::native
