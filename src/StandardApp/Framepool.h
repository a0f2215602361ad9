// Framepool.h: storage of the frames cut from the input. A frame is made on the reader thread and
// freed on the thread of the channel that takes it; small frames go back to the reader in batches
// through a process-wide pool instead of through malloc and free one by one (a fast stream of
// short frames spent a tenth of its time there).
#pragma once

#include <cstddef>
#include <cstdint>

// Room for a frame of `length` bytes; never null.
uint8_t* ZNewFrame(size_t length);
// Frees a frame made by ZNewFrame (and nothing else); null is ignored.
void ZFreeFrame(uint8_t* frame);

// Small frames beyond this many at once come from malloc: the pool's storage (about 1 MB) is
// made as needed and kept for the process.
inline constexpr size_t kZFramePoolBlocks = 7168;
// Small blocks waiting in the pool for a thread to take them (not those kept by threads), for tests.
size_t ZPooledFrames();
