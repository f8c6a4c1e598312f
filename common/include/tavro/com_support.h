// COM ownership helpers shared by the libraries: ComPtr for interfaces, one owner for
// CoTaskMemAlloc'd memory.
#pragma once

#include <objbase.h>
#include <wrl/client.h>

#include <memory>

namespace tavro {

using Microsoft::WRL::ComPtr;

struct CoTaskMemDeleter {
    void operator()(void* memory) const noexcept { ::CoTaskMemFree(memory); }
};

// Memory the callee allocated with CoTaskMemAlloc (GetDisplayName, StringFromCLSID, ...).
template <typename T>
using CoTaskMemPtr = std::unique_ptr<T, CoTaskMemDeleter>;

}  // namespace tavro
