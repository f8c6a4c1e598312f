// String encodings the stand-in speaks: JNI's modified UTF-8 and standard UTF-8/UTF-16.
#include "java_vm_standin.h"

namespace tavro::test {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

}  // namespace

std::string toModifiedUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t unit : text) {
        if (unit == 0) {
            out += "\xC0\x80";
        } else {
            appendUtf8(out, unit);  // a surrogate is a unit like any other: 3 bytes
        }
    }
    return out;
}

std::u16string fromModifiedUtf8(const std::string& bytes) {
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            i += 1;
        } else if ((lead & 0xE0) == 0xC0 && i + 1 < n && isContinuation(p[i + 1])) {
            out += static_cast<char16_t>(((lead & 0x1F) << 6) | (p[i + 1] & 0x3F));
            i += 2;
        } else if ((lead & 0xF0) == 0xE0 && i + 2 < n && isContinuation(p[i + 1]) &&
                   isContinuation(p[i + 2])) {
            out += static_cast<char16_t>(((lead & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) |
                                         (p[i + 2] & 0x3F));
            i += 3;
        } else {
            // The VM takes a byte it cannot decode as the character of the same value.
            out += static_cast<char16_t>(lead);
            i += 1;
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                (static_cast<char32_t>(text[i + 1]) - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            appendUtf8(out, kReplacement);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string utf8ToUtf16(const std::string& text) {
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char lead = p[i];
        std::size_t extra = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        std::size_t taken = 1;
        bool valid = true;
        for (; taken <= extra; ++taken) {
            if (i + taken >= n || !isContinuation(p[i + taken])) {
                valid = false;
                break;
            }
            c = (c << 6) | (p[i + taken] & 0x3F);
        }
        if (!valid || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += kReplacement;
            i += taken;  // the lead and the continuation bytes seen
            continue;
        }
        appendUtf16(out, c);
        i += taken;
    }
    return out;
}

}  // namespace tavro::test
