#include "device_enumeration.h"

#include <oleauto.h>

#include "auto_releaser.h"
#include "device_naming.h"

namespace pramble {

std::optional<std::string> friendlyName(IMoniker* device) {
    AutoReleaser<IPropertyBag> bag;
    if (FAILED(device->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid())) || !bag) return {};
    VARIANT name;
    ::VariantInit(&name);
    name.vt = VT_BSTR;
    std::optional<std::string> answer;
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR && name.bstrVal) {
        const int length = ::WideCharToMultiByte(CP_ACP, 0, name.bstrVal, -1, nullptr, 0, nullptr, nullptr);
        if (length > 0) {
            std::string text(std::size_t(length), '\0');
            ::WideCharToMultiByte(CP_ACP, 0, name.bstrVal, -1, text.data(), length, nullptr, nullptr);
            text.resize(std::size_t(length - 1));
            if (text.size() > kDeviceNameLimit) text.resize(kDeviceNameLimit);
            answer = std::move(text);
        }
    }
    ::VariantClear(&name);
    return answer;
}

bool forEachDevice(REFGUID category, const std::function<bool(IMoniker* device)>& visit) {
    AutoReleaser<ICreateDevEnum> enumerator;
    if (FAILED(::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  enumerator.putVoid()))) {
        return false;
    }
    AutoReleaser<IEnumMoniker> devices;
    if (enumerator->CreateClassEnumerator(category, devices.put(), 0) != S_OK || !devices) return false;
    devices->Reset();
    for (;;) {
        AutoReleaser<IMoniker> device;
        if (devices->Next(1, device.put(), nullptr) != S_OK || !device) break;
        if (visit(device.get())) break;
    }
    return true;
}

IBaseFilter* findFilterInRegistry(REFGUID category, const char* name, int index) {
    IBaseFilter* found = nullptr;
    int named = 0;
    forEachDevice(category, [&](IMoniker* device) {
        const auto deviceName = friendlyName(device);
        if (!deviceName) return false;
        const bool match = name ? *deviceName == name : named == index;
        ++named;
        if (!match) return false;
        if (FAILED(device->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&found)))) {
            found = nullptr;
        }
        return true;
    });
    return found;
}

}  // namespace pramble
