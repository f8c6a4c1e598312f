// The owner of the capture graph's temporary interfaces (enumerators, monikers, property bags)
// and of the crossbar filter and capture input pin: like ComPtr, but a Release that answers a
// negative count (an object released once too often) is reported.
#pragma once

#include <unknwn.h>

#include <utility>

#include "error_box.h"

namespace pramble {

template <typename Interface>
class AutoReleaser {
public:
    AutoReleaser() = default;
    explicit AutoReleaser(Interface* adopted) : pointer_(adopted) {}
    ~AutoReleaser() { reset(); }
    AutoReleaser(AutoReleaser&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    AutoReleaser& operator=(AutoReleaser&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    AutoReleaser(const AutoReleaser&) = delete;
    AutoReleaser& operator=(const AutoReleaser&) = delete;

    void reset() {
        if (Interface* held = std::exchange(pointer_, nullptr)) {
            if (LONG(held->Release()) < 0) reportError("auto_releaser failed\n");
        }
    }
    // For out-parameters: releases what is held first.
    Interface** put() {
        reset();
        return &pointer_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    Interface* pointer_ = nullptr;
};

}  // namespace pramble
