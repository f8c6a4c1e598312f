// The video decompressor that the stand-in codec plays for "dvsd" and "I420", which Wine
// lacks. Its "DV" frames are the picture's blue, green, red rows, top-down and packed; its
// I420 frames are real planes (Y, then U and V at half size), each pixel decoded to blue = Y,
// green = U, red = V so that every byte's origin shows. Registered once in the prefix's
// Drivers32 key; the test switches it per process through its export "codecScript".
#pragma once

#include <windows.h>

namespace codec_standin {

struct CodecScript {
    BOOL refuse;       // every ICM_DECOMPRESS_QUERY fails: no decompressor is found
    BOOL failDecode;   // ICM_DECOMPRESS fails
    int openInstances; // DRV_OPEN minus DRV_CLOSE
    int queries;
    BITMAPINFOHEADER lastQueryInput;
    BITMAPINFOHEADER lastQueryOutput;  // zero when the query gave none
    int decodes;
};

}  // namespace codec_standin

using CodecScriptFunction = codec_standin::CodecScript*(WINAPI*)();
