// COM ownership helpers shared by the libraries: ComPtr for interfaces, one owner for
// CoTaskMemAlloc'd memory.
#pragma once

#include <objbase.h>
#include <wrl/client.h>

#include <atomic>
#include <memory>
#include <tuple>

namespace tavro {

using Microsoft::WRL::ComPtr;

// Takes over a reference the callee already counted. mingw-w64's ComPtr::Attach adds a
// reference of its own (unlike Microsoft's), so it would leak one.
template <typename T>
void adopt(ComPtr<T>& owner, T* counted) {
    owner.Reset();
    *owner.GetAddressOf() = counted;
}

struct CoTaskMemDeleter {
    void operator()(void* memory) const noexcept { ::CoTaskMemFree(memory); }
};

// Memory the callee allocated with CoTaskMemAlloc (GetDisplayName, StringFromCLSID, ...).
template <typename T>
using CoTaskMemPtr = std::unique_ptr<T, CoTaskMemDeleter>;

// IUnknown for a heap-allocated class implementing one or more COM interfaces: thread-safe
// reference count starting at 1, deleted on the last Release (mingw-w64 has no WRL RuntimeClass).
// Derive as `class Buffer final : public ComObject<IMFMediaBuffer>` (or
// `ComObject<IBaseFilter, IAMCrossbar>`) and create with new. QueryInterface answers IUnknown
// (through the first interface) and each listed interface; findInterface answers more, such as
// the bases an interface derives from (IPersist of IBaseFilter).
// COM interfaces have no virtual destructor by design: objects delete themselves in Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
template <typename... Interfaces>
class ComObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0);
    using Primary = std::tuple_element_t<0, std::tuple<Interfaces...>>;

public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        void* found = IsEqualIID(riid, IID_IUnknown) ? static_cast<Primary*>(this) : nullptr;
        ((found = found ? found
                        : IsEqualIID(riid, __uuidof(Interfaces)) ? static_cast<void*>(static_cast<Interfaces*>(this))
                                                                 : nullptr),
         ...);
        if (!found) found = findInterface(riid);
        *out = found;
        if (!found) return E_NOINTERFACE;
        AddRef();
        return S_OK;
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
    virtual void* findInterface(REFIID) { return nullptr; }

private:
    std::atomic<ULONG> references_{1};
};
#pragma GCC diagnostic pop

}  // namespace tavro
