// Heap use of the benchmark programs, counted by interposing the allocator: bytes in use now and
// the highest count since the last reset.
#pragma once

namespace corvane::bench {

long long heapInUse();
long long heapPeak();
// Starts a new peak from what is in use now.
void resetHeapPeak();

} // namespace corvane::bench
