// Holds a digitizer instance's lock (its critical section) for a scope.
#pragma once

#include <windows.h>

namespace pramble {

class LockHeld {
public:
    explicit LockHeld(CRITICAL_SECTION& lock) : lock_(lock) { ::EnterCriticalSection(&lock_); }
    ~LockHeld() { ::LeaveCriticalSection(&lock_); }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

}  // namespace pramble
