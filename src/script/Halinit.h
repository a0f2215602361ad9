// Engine start-up and shut-down: fills the reserved words and constants, the provider list and
// the host-parameter store. Counted, so that repeated start calls are harmless.
#pragma once

void HalinitStart();
void HalinitStop();

// RAII guard: starts the engine for its lifetime.
class THalinit {
 public:
  THalinit() { HalinitStart(); }
  ~THalinit() { HalinitStop(); }
  THalinit(const THalinit&) = delete;
  THalinit& operator=(const THalinit&) = delete;
};
