// What reading and writing a sheet's cell records share: the error codes a BOOLERR record holds and
// the bounds of a MULRK or MULBLANK run.
#pragma once

#include "records.h"

namespace corvane::automation::native::biff {

struct ErrorCode
{
    unsigned code;
    const char* text;
};
constexpr ErrorCode kErrors[] = {{0x00, "#NULL!"}, {0x07, "#DIV/0!"}, {0x0F, "#VALUE!"}, {0x17, "#REF!"},
                                 {0x1D, "#NAME?"}, {0x24, "#NUM!"},   {0x2A, "#N/A"}};

// The first and last columns (0-based) of a MULRK or MULBLANK, and the size of one cell's entry.
inline bool runBounds(const Record& r, int* first, int* last, int* entry)
{
    *entry = r.type == rt::kMulRk ? 6 : 2;
    if (r.data.size() < 6)
        return false;
    *first = le16(r.data, 2);
    *last = le16(r.data, r.data.size() - 2);
    return *last >= *first && 4 + (*last - *first + 1) * *entry + 2 == r.data.size();
}

} // namespace corvane::automation::native::biff
