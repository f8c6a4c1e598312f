// The component's resource fork and trailer, written out by hand from the formats QuickTime
// for Windows reads: the native suite compares the packer with them, the Wine suite the built file.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>

namespace pramble_test {

// Hex digits to bytes; spaces and line breaks only separate fields; '...' quotes characters.
inline std::string bytes(const char* text) {
    std::string out;
    for (const char* p = text; *p;) {
        if (*p == '\'') {
            for (++p; *p && *p != '\''; ++p) out += *p;
            if (*p) ++p;
        } else if (std::isxdigit(static_cast<unsigned char>(*p))) {
            out += char(std::stoi(std::string(p, 2), nullptr, 16));
            p += 2;
        } else {
            ++p;
        }
    }
    return out;
}

inline const std::string kThing = bytes(
    "'vdig' 'vdsn' '#@Qm' 00000000 00000000"  // description
    " 00000000 0000"                           // no code resource of its own
    " 'strn' 00C8  'stri' 00C8"                // name and info
    " 00000000 0000"                           // no icon
    " 00000000 00000009 0000"                  // version, register flags, icon family
    " 00000001 80000000 'dlle' 00C8 0004");    // one Win32 entry that wants Register

inline const std::string kFork =
    bytes("00000100 000001AC 000000AC 00000082") + std::string(240, '\0') +
    // data: a 32-bit length before each resource
    bytes("00000046") + kThing +
    bytes("00000008 07'Pramble'") +
    bytes("0000002B 2A'Direct Show Proxy for QuickTime Digitizers'") +
    bytes("00000016 'vdigComponentDispatch'00") +
    bytes("00000009 0001 06' (WDM)'") +
    // map: header copy, next map, file reference, attributes, type and name list offsets
    bytes("00000100 000001AC 000000AC 00000082 00000000 0000 0000 001C 0082"
          " 0004"
          " 'thng' 0000 002A  'strn' 0000 0036  'stri' 0000 0042  'dlle' 0000 004E  'STR#' 0000 005A"
          " 00C8 FFFF 00 000000 00000000"
          " 00C8 FFFF 00 00004A 00000000"
          " 00C8 FFFF 00 000056 00000000"
          " 00C8 FFFF 00 000085 00000000"
          " 08FE FFFF 60 00009F 00000000");

// The trailer for an image of this many bytes.
inline std::string trailer(std::uint32_t imageLength) {
    const std::string length = {char(imageLength >> 24), char(imageLength >> 16), char(imageLength >> 8),
                                char(imageLength)};
    return "data" + bytes("00000000") + length + "rsrc" + length + bytes("0000022E 'mkQuickTime' AA");
}

}  // namespace pramble_test
