// Owners for DirectShow media types: the format block and the unknown inside one, and the
// CoTaskMemAlloc'd type that GetFormat or an enumerator hands out.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <memory>

namespace tavro {

// Frees what a media type holds (not the type itself), as FreeMediaType does.
inline void freeMediaTypeContents(AM_MEDIA_TYPE& type) noexcept {
    if (type.cbFormat != 0 || type.pbFormat) ::CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    if (type.pUnk) type.pUnk->Release();
    type.pUnk = nullptr;
}

// A deep copy of `from` into `to` (whose contents are not freed first); E_OUTOFMEMORY when the
// format block cannot be allocated.
inline HRESULT copyMediaType(AM_MEDIA_TYPE& to, const AM_MEDIA_TYPE& from) noexcept {
    to = from;
    if (from.cbFormat != 0) {
        to.pbFormat = static_cast<BYTE*>(::CoTaskMemAlloc(from.cbFormat));
        if (!to.pbFormat) {
            to.cbFormat = 0;
            to.pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        ::CopyMemory(to.pbFormat, from.pbFormat, from.cbFormat);
    } else {
        to.pbFormat = nullptr;
    }
    if (to.pUnk) to.pUnk->AddRef();
    return S_OK;
}

struct MediaTypeDeleter {
    void operator()(AM_MEDIA_TYPE* type) const noexcept {
        freeMediaTypeContents(*type);
        ::CoTaskMemFree(type);
    }
};
// A media type allocated by the callee, as DeleteMediaType frees it.
using UniqueMediaType = std::unique_ptr<AM_MEDIA_TYPE, MediaTypeDeleter>;

// A media type filled in place (IPin::ConnectionMediaType), freed when it goes.
class MediaType {
public:
    MediaType() = default;
    ~MediaType() { freeMediaTypeContents(value_); }
    MediaType(const MediaType&) = delete;
    MediaType& operator=(const MediaType&) = delete;

    AM_MEDIA_TYPE* get() { return &value_; }
    const AM_MEDIA_TYPE& operator*() const { return value_; }
    const AM_MEDIA_TYPE* operator->() const { return &value_; }

private:
    AM_MEDIA_TYPE value_{};
};

}  // namespace tavro
