// Framepool.cpp: small frames are fixed-size blocks. Each thread keeps the blocks it freed and the
// blocks it may hand out; complete batches travel between threads through one locked list, so the
// lock is taken once per batch.
#include "StandardApp/Framepool.h"

#include <exception>
#include <mutex>
#include <new>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVENT_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MORVENT_ASAN 1
#endif
#if defined(MORVENT_ASAN)
#include <sanitizer/asan_interface.h>
// A block at rest is poisoned, so that a use after ZFreeFrame is still reported.
#define FRAME_REST(p) ASAN_POISON_MEMORY_REGION((p), kSmallFrame)
#define FRAME_WAKE(p) ASAN_UNPOISON_MEMORY_REGION((p), kSmallFrame)
#else
#define FRAME_REST(p) ((void)(p))
#define FRAME_WAKE(p) ((void)(p))
#endif

namespace {
// Every block starts with a tag word in front of the frame: small (pooled) or not.
constexpr size_t kTag = 16;          // keeps the frame as aligned as malloc's blocks
constexpr size_t kSmallFrame = 128;  // a 64-byte payload with its header, short answers and events
constexpr size_t kBlock = kTag + kSmallFrame;
constexpr size_t kBatch = 64;
constexpr size_t kSlabBlocks = 448;  // 63 KB slabs
static_assert(kZFramePoolBlocks % kSlabBlocks == 0);
constexpr uintptr_t kSmallTag = 0x5a4d5346;  // "FSMZ"
constexpr uintptr_t kLargeTag = 0x5a4d4c46;  // "FLMZ"

using Batch = std::vector<uint8_t*>;  // small blocks

// Small blocks are cut from slabs that are never freed, so that blocks held for a while on one
// thread or another never pin pages of the general heap; past the slabs' capacity small frames come
// from malloc like the large ones.
class Pool {
 public:
  // Fills the caller's empty batch with a waiting one or with new blocks; false when none is left.
  bool Take(Batch& into) {
    std::lock_guard<std::mutex> g(m_lock);
    if (!m_full.empty()) {
      into.swap(m_full.back());
      m_full.pop_back();
      return true;
    }
    while (into.size() < kBatch) {
      if (m_next == m_end) {
        if (m_slabs.size() * kSlabBlocks >= kZFramePoolBlocks) break;
        m_slabs.push_back(new uint8_t[kSlabBlocks * kBlock]);
        m_next = m_slabs.back();
        m_end = m_next + kSlabBlocks * kBlock;
      }
      uint8_t* block = m_next;
      m_next += kBlock;
      *reinterpret_cast<uintptr_t*>(block) = kSmallTag;
      FRAME_REST(block + kTag);
      into.push_back(block);
    }
    return !into.empty();
  }
  // Keeps the caller's blocks (any number), leaving it an empty batch.
  void Give(Batch& batch) {
    std::lock_guard<std::mutex> g(m_lock);
    m_full.emplace_back();
    m_full.back().swap(batch);
  }
  void GiveOne(uint8_t* block) {
    FRAME_REST(block + kTag);
    std::lock_guard<std::mutex> g(m_lock);
    m_full.emplace_back(1, block);
  }
  size_t Frames() const {
    std::lock_guard<std::mutex> g(m_lock);
    size_t n = 0;
    for (const Batch& b : m_full) n += b.size();
    return n;
  }

 private:
  mutable std::mutex m_lock;
  std::vector<Batch> m_full;
  std::vector<uint8_t*> m_slabs;
  uint8_t* m_next = nullptr;
  uint8_t* m_end = nullptr;
};

// Never destroyed: threads may free frames while the process ends.
Pool& ThePool() {
  static Pool* pool = new Pool;
  return *pool;
}

uint8_t* NewLarge(size_t length) {
  auto* block = new uint8_t[kTag + length];
  *reinterpret_cast<uintptr_t*>(block) = kLargeTag;
  return block + kTag;
}

struct ThreadBlocks {
  Batch ready;  // to hand out
  Batch freed;  // to give back
  ThreadBlocks() {
    ready.reserve(kBatch);
    freed.reserve(kBatch);
  }
  ~ThreadBlocks() {
    if (!ready.empty()) ThePool().Give(ready);
    if (!freed.empty()) ThePool().Give(freed);
  }
  uint8_t* New() {
    if (ready.empty()) {
      if (!freed.empty())
        ready.swap(freed);
      else if (!ThePool().Take(ready))
        return NewLarge(kSmallFrame);
    }
    uint8_t* frame = ready.back() + kTag;
    ready.pop_back();
    FRAME_WAKE(frame);
    return frame;
  }
  void Free(uint8_t* block) {
    FRAME_REST(block + kTag);
    freed.push_back(block);
    if (freed.size() < kBatch) return;
    ThePool().Give(freed);
    freed.reserve(kBatch);
  }
};

// The thread's blocks go back to the pool when the thread ends; a frame made or freed after that
// (by another thread-local's destructor, or a static one on the main thread) bypasses them.
thread_local ThreadBlocks* t_blocks = nullptr;
thread_local bool t_ended = false;

struct ThreadEnd {
  ~ThreadEnd() {
    delete t_blocks;
    t_blocks = nullptr;
    t_ended = true;
  }
};

ThreadBlocks* Mine() {
  if (t_blocks || t_ended) return t_blocks;
  thread_local ThreadEnd end;
  (void)end;
  t_blocks = new ThreadBlocks;
  return t_blocks;
}
}  // namespace

uint8_t* ZNewFrame(size_t length) {
  if (length > kSmallFrame) return NewLarge(length);
  ThreadBlocks* mine = Mine();
  return mine ? mine->New() : NewLarge(length);
}

void ZFreeFrame(uint8_t* frame) {
  if (!frame) return;
  uint8_t* block = frame - kTag;
  const uintptr_t tag = *reinterpret_cast<const uintptr_t*>(block);
  if (tag == kSmallTag) {
    ThreadBlocks* mine = Mine();
    return mine ? mine->Free(block) : ThePool().GiveOne(block);
  }
  if (tag != kLargeTag) std::terminate();  // not one of ours: freeing it would corrupt the heap
  delete[] block;
}

size_t ZPooledFrames() { return ThePool().Frames(); }
