// Process-wide state that is made on first use. The compiler's own lazy statics go through the
// C++ runtime's thread-safe guard, whose threading library allocates without checking: a
// failed allocation there crashes the process. This one is made through the platform's
// one-time initialisation, which allocates nothing, into static storage; a constructor that
// fails is an ordinary failure, and the next use tries again.
#pragma once

#include <windows.h>

#include <new>

namespace tavro {

// Declare at namespace scope: it is constant-initialised, so it exists before any code runs.
// The state is never destroyed: nothing of it may run at unload, under the loader lock, when
// COM or the media libraries may already be gone.
template <typename T>
class ProcessState {
public:
    constexpr ProcessState() noexcept = default;
    ProcessState(const ProcessState&) = delete;
    ProcessState& operator=(const ProcessState&) = delete;

    // The state, made now when this is its first use; null when it could not be made.
    T* get() noexcept {
        if (!::InitOnceExecuteOnce(&once_, &ProcessState::make, storage_, nullptr)) return nullptr;
        return std::launder(reinterpret_cast<T*>(storage_));
    }

private:
    static BOOL CALLBACK make(PINIT_ONCE, void* storage, void**) noexcept {
        try {
            new (storage) T();
            return TRUE;
        } catch (...) {
            return FALSE;  // the once stays unmade: the next get() tries again
        }
    }

    INIT_ONCE once_ = INIT_ONCE_STATIC_INIT;
    alignas(T) unsigned char storage_[sizeof(T)] = {};
};

}  // namespace tavro
