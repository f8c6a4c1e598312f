// What the Media Foundation stand-ins share: their export macro and the record of a media type
// (or any attribute store) as it reached them, attribute by attribute.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mfobjects.h>

#include <string>
#include <vector>

#ifdef MEDIA_STANDIN_BUILDING
#define MEDIA_STANDIN_API __declspec(dllexport)
#else
#define MEDIA_STANDIN_API __declspec(dllimport)
#endif

namespace standin {

// One attribute as it was set, with the value in the member its type uses.
struct AttributeRecord {
    GUID key{};
    MF_ATTRIBUTE_TYPE type = MF_ATTRIBUTE_UINT32;
    UINT32 u32 = 0;
    UINT64 u64 = 0;
    double f64 = 0;
    GUID guid{};
    std::wstring text;
    std::vector<BYTE> blob;
};

// A media type's attributes in the order they were set.
struct MediaTypeRecord {
    std::vector<AttributeRecord> attributes;
    const AttributeRecord* find(REFGUID key) const {
        for (const auto& a : attributes)
            if (IsEqualGUID(a.key, key)) return &a;
        return nullptr;
    }
};

// Every attribute of the store, in its own order.
MediaTypeRecord describe(IMFAttributes* attributes);

}  // namespace standin

namespace standin {

// One attribute as one line of text: "<key> <type> <value>", the key and GUID values in
// registry form, numbers in hexadecimal, strings in UTF-8, blobs as hexadecimal bytes.
std::string attributeText(const AttributeRecord& attribute);

// A GUID in registry form ("{0000...}"), a number as "0x" and upper-case hexadecimal digits.
std::string guidText(const GUID& guid);
std::string hexText(unsigned long long value);

// Text in UTF-8.
std::string utf8(const std::wstring& text);

}  // namespace standin
