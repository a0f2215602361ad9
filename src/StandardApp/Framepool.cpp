// Framepool.cpp: per-thread stashes of small buffers, exchanged in batches through one shared list.
#include "StandardApp/Framepool.h"

#include <algorithm>
#include <mutex>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace framepool {
namespace {

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)  // the address checker sees every frame
constexpr bool kPooled = true;
size_t UsableSize(uint8_t* b) { return malloc_usable_size(b); }
#else
constexpr bool kPooled = false;
size_t UsableSize(uint8_t*) { return 0; }
#endif
constexpr size_t kSmall = 256;    // buffers of up to this many bytes are reused
constexpr size_t kBatch = 64;     // buffers moved between a thread and the shared list at once
constexpr size_t kShared = 1024;  // the shared list's bound; more is freed

// Never destroyed: threads that end after static destruction may still hand buffers back.
struct TShared {
  std::mutex lock;
  std::vector<uint8_t*> buffers;
};
TShared& Shared() {
  static TShared* shared = new TShared;
  return *shared;
}

// Trivially destructible, so that it stays usable while the thread ends; the closer empties it.
struct TStash {
  uint8_t* taken[kBatch];  // to hand out on this thread
  size_t nTaken;
  uint8_t* given[kBatch];  // handed back on this thread, collected into a batch
  size_t nGiven;
  bool armed;   // the closer is registered for this thread
  bool closed;  // the thread is ending: straight to delete[]
};
thread_local TStash tStash{};
struct TCloser {
  void Arm() {}
  ~TCloser() {
    TStash& s = tStash;
    while (s.nTaken > 0) delete[] s.taken[--s.nTaken];
    while (s.nGiven > 0) delete[] s.given[--s.nGiven];
    s.closed = true;
  }
};
thread_local TCloser tCloser;

TStash* Stash() {
  TStash& s = tStash;
  if (s.closed) return nullptr;
  if (!s.armed) {
    s.armed = true;
    tCloser.Arm();
  }
  return &s;
}

}  // namespace

uint8_t* Take(size_t length) {
  TStash* s = kPooled && length <= kSmall ? Stash() : nullptr;
  if (!s) return new uint8_t[length];
  if (s->nTaken == 0) {
    TShared& shared = Shared();
    std::lock_guard<std::mutex> g(shared.lock);
    const size_t n = std::min(kBatch, shared.buffers.size());
    std::copy(shared.buffers.end() - static_cast<std::ptrdiff_t>(n), shared.buffers.end(), s->taken);
    shared.buffers.resize(shared.buffers.size() - n);
    s->nTaken = n;
  }
  if (s->nTaken > 0) {
    uint8_t* b = s->taken[--s->nTaken];
    if (UsableSize(b) >= length) return b;
    delete[] b;  // the stream's frames got longer: its buffers go
  }
  // Exactly the size asked for: a backlog of small frames costs no more than before.
  return new uint8_t[length];
}

void Give(uint8_t* frame) {
  if (!frame) return;
  TStash* s = kPooled && UsableSize(frame) <= kSmall ? Stash() : nullptr;
  if (!s) {
    delete[] frame;
    return;
  }
  s->given[s->nGiven++] = frame;
  if (s->nGiven < kBatch) return;
  size_t kept = 0;
  {
    TShared& shared = Shared();
    std::lock_guard<std::mutex> g(shared.lock);
    kept = std::min(s->nGiven, kShared - std::min(kShared, shared.buffers.size()));
    shared.buffers.insert(shared.buffers.end(), s->given, s->given + kept);
  }
  for (size_t i = kept; i < s->nGiven; ++i) delete[] s->given[i];
  s->nGiven = 0;
}

}  // namespace framepool
