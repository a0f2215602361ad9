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

// What the pool keeps aside, for tests: frames in complete batches waiting for a taker.
size_t ZPooledFrames();
