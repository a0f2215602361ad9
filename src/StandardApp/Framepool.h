// Framepool.h: buffers for small frames. The reader thread allocates every frame and the channels'
// threads free them, so with plain new[]/delete[] a fast stream puts each allocation and each free
// through the allocator's slow, locked paths. Small buffers handed back here return to the reader
// in batches instead, and serve the next frames that fit (a stream's frames are mostly of one
// size). A buffer is a plain new[] array: one that never comes back is freed as before.
#pragma once

#include <cstddef>
#include <cstdint>

namespace framepool {

// A buffer of at least length bytes (from new[]; a reused one when a kept buffer fits).
uint8_t* Take(size_t length);
// Hands a buffer from new[] back, of any size and origin; a small one may be kept.
void Give(uint8_t* frame);

}  // namespace framepool
