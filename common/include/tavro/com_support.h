// COM ownership helpers shared by the libraries: ComPtr for interfaces, one owner for
// CoTaskMemAlloc'd memory.
#pragma once

#include <objbase.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>

namespace tavro {

using Microsoft::WRL::ComPtr;

struct CoTaskMemDeleter {
    void operator()(void* memory) const noexcept { ::CoTaskMemFree(memory); }
};

// Memory the callee allocated with CoTaskMemAlloc (GetDisplayName, StringFromCLSID, ...).
template <typename T>
using CoTaskMemPtr = std::unique_ptr<T, CoTaskMemDeleter>;

// IUnknown for a heap-allocated class implementing one COM interface: thread-safe reference
// count starting at 1, deleted on the last Release (mingw-w64 has no WRL RuntimeClass).
// Derive as `class Buffer final : public ComObject<IMFMediaBuffer>` and create with new.
// COM interfaces have no virtual destructor by design: objects delete themselves in Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
template <typename Interface>
class ComObject : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Interface))) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> references_{1};
};
#pragma GCC diagnostic pop

}  // namespace tavro
