#include "media_records.h"

#include <cstdio>

namespace standin {

MediaTypeRecord describe(IMFAttributes* attributes) {
    MediaTypeRecord type;
    UINT32 count = 0;
    attributes->GetCount(&count);
    for (UINT32 i = 0; i < count; ++i) {
        AttributeRecord a;
        PROPVARIANT value;
        PropVariantInit(&value);
        if (FAILED(attributes->GetItemByIndex(i, &a.key, &value))) continue;
        attributes->GetItemType(a.key, &a.type);
        switch (a.type) {
        case MF_ATTRIBUTE_UINT32: attributes->GetUINT32(a.key, &a.u32); break;
        case MF_ATTRIBUTE_UINT64: attributes->GetUINT64(a.key, &a.u64); break;
        case MF_ATTRIBUTE_DOUBLE: attributes->GetDouble(a.key, &a.f64); break;
        case MF_ATTRIBUTE_GUID: attributes->GetGUID(a.key, &a.guid); break;
        case MF_ATTRIBUTE_STRING:
            if (value.vt == VT_LPWSTR && value.pwszVal) a.text = value.pwszVal;
            break;
        case MF_ATTRIBUTE_BLOB:
            if (value.vt == (VT_VECTOR | VT_UI1))
                a.blob.assign(value.caub.pElems, value.caub.pElems + value.caub.cElems);
            break;
        default: break;
        }
        PropVariantClear(&value);
        type.attributes.push_back(std::move(a));
    }
    return type;
}

std::string guidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string hexText(unsigned long long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", value);
    return text;
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::string attributeText(const AttributeRecord& a) {
    std::string line = guidText(a.key) + " ";
    switch (a.type) {
    case MF_ATTRIBUTE_UINT32: return line + "uint32 " + hexText(a.u32);
    case MF_ATTRIBUTE_UINT64: return line + "uint64 " + hexText(a.u64);
    case MF_ATTRIBUTE_DOUBLE: return line + "double " + std::to_string(a.f64);
    case MF_ATTRIBUTE_GUID: return line + "guid " + guidText(a.guid);
    case MF_ATTRIBUTE_STRING: return line + "string " + utf8(a.text);
    case MF_ATTRIBUTE_BLOB: {
        line += "blob ";
        for (BYTE b : a.blob) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", b);
            line += pair;
        }
        return line;
    }
    default: return line + "other";
    }
}

}  // namespace standin
