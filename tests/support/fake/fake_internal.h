// Shared pieces of the fake backend's files.
#pragma once

#include <mutex>

#include "support/fake/fake_line.h"

namespace fake {

// One lock for the fake's lines and captures.
std::mutex &Lock();

// True on threads created through plat::ThreadCreate (the port workers):
// with the virtual clock only their sleeps move time.
bool OnPlatformThread();

// Real time to spend on a wait of ms clock milliseconds (finite waits).
uint32_t RealMicrosFor(uint32_t ms);

// Moves the virtual clock forward to at most `until` when called on a
// platform thread; otherwise spends a little real time.
void AdvanceTo(uint32_t until);

void ResetLines();
void ResetThreadsAndSemaphores();

}  // namespace fake
