// Large per-compile buffers are handed back to a small per-thread pool when their owner goes and
// taken from it by the next compile or load on that thread: fresh pages from the system cost more
// than the work done in them. At most a few buffers of each element type are kept per thread.
#pragma once
#include <utility>
#include <vector>

namespace spare {

constexpr size_t kKept = 3;

template <class T>
std::vector<std::vector<T>>& pool() {
  thread_local std::vector<std::vector<T>> p;
  return p;
}

// An empty vector, with the capacity of the largest kept buffer of its type if there is one.
template <class T>
std::vector<T> Take() {
  auto& p = pool<T>();
  std::vector<T> v;
  if (!p.empty()) {
    v.swap(p.back());
    p.pop_back();
  }
  return v;
}

// Hands v's storage back (v is left empty); the pool keeps the largest buffers.
template <class T>
void Give(std::vector<T>& v) {
  if (v.capacity() == 0) return;
  v.clear();
  auto& p = pool<T>();
  if (p.size() < kKept) {
    p.push_back(std::move(v));
  } else {
    size_t smallest = 0;
    for (size_t i = 1; i < p.size(); ++i)
      if (p[i].capacity() < p[smallest].capacity()) smallest = i;
    if (p[smallest].capacity() < v.capacity()) p[smallest].swap(v);
  }
  // keep the largest last, so that Take hands it out first
  for (size_t i = 0; i + 1 < p.size(); ++i)
    if (p[i].capacity() > p.back().capacity()) p[i].swap(p.back());
  std::vector<T>().swap(v);
}

}  // namespace spare
