#include "media_records.h"

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

}  // namespace standin
