// A "vidc" decompressor for dvsd and I420 frames, as Video for Windows loads one from the
// Drivers32 key: everything arrives through DriverProc.
#include "codec_script.h"

#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using codec_standin::CodecScript;

namespace {

CodecScript script{};

constexpr DWORD kDv = mmioFOURCC('d', 'v', 's', 'd');
constexpr DWORD kI420 = mmioFOURCC('I', '4', '2', '0');

bool decodable(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) {
    if (!input || (input->biCompression != kDv && input->biCompression != kI420)) return false;
    if (!output) return true;
    return output->biCompression == BI_RGB && output->biBitCount == 24 && output->biWidth == input->biWidth &&
           std::labs(output->biHeight) == std::labs(input->biHeight);
}

// Output row y of the picture (0 at the top) in a 24-bit bitmap of the output's orientation.
std::uint8_t* outputRow(const ICDECOMPRESS& job, LONG y) {
    const LONG width = job.lpbiOutput->biWidth;
    const LONG height = std::labs(job.lpbiOutput->biHeight);
    const std::size_t stride = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    const LONG row = job.lpbiOutput->biHeight < 0 ? y : height - 1 - y;
    return static_cast<std::uint8_t*>(job.lpOutput) + std::size_t(row) * stride;
}

LRESULT decode(const ICDECOMPRESS* job) {
    if (!job || !decodable(job->lpbiInput, job->lpbiOutput) || !job->lpInput || !job->lpOutput) return ICERR_BADFORMAT;
    ++script.decodes;
    if (script.failDecode) return ICERR_ERROR;
    const LONG width = job->lpbiInput->biWidth;
    const LONG height = std::labs(job->lpbiInput->biHeight);
    const auto* in = static_cast<const std::uint8_t*>(job->lpInput);
    for (LONG y = 0; y < height; ++y) {
        std::uint8_t* out = outputRow(*job, y);
        if (job->lpbiInput->biCompression == kDv) {
            std::memcpy(out, in + std::size_t(y) * std::size_t(width) * 3, std::size_t(width) * 3);
            continue;
        }
        const std::uint8_t* luma = in + std::size_t(y) * std::size_t(width);
        const std::uint8_t* u = in + std::size_t(width) * std::size_t(height) + std::size_t(y / 2) * std::size_t(width / 2);
        const std::uint8_t* v = u + std::size_t(width / 2) * std::size_t(height / 2);
        for (LONG x = 0; x < width; ++x) {
            out[x * 3] = luma[x];
            out[x * 3 + 1] = u[x / 2];
            out[x * 3 + 2] = v[x / 2];
        }
    }
    return ICERR_OK;
}

}  // namespace

extern "C" {

LRESULT WINAPI DriverProc(DWORD_PTR, HDRVR, UINT message, LPARAM first, LPARAM second) {
    switch (message) {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_ENABLE:
        case DRV_DISABLE: return 1;
        case DRV_OPEN: {
            auto* open = reinterpret_cast<ICOPEN*>(second);
            if (open && open->fccType != ICTYPE_VIDEO) return 0;
            if (open) open->dwError = ICERR_OK;
            ++script.openInstances;
            return 1;
        }
        case DRV_CLOSE: --script.openInstances; return 1;
        case ICM_DECOMPRESS_QUERY: {
            const auto* input = reinterpret_cast<const BITMAPINFOHEADER*>(first);
            const auto* output = reinterpret_cast<const BITMAPINFOHEADER*>(second);
            ++script.queries;
            if (input) script.lastQueryInput = *input;
            script.lastQueryOutput = output ? *output : BITMAPINFOHEADER{};
            return !script.refuse && decodable(input, output) ? ICERR_OK : ICERR_BADFORMAT;
        }
        case ICM_DECOMPRESS_BEGIN: return decodable(reinterpret_cast<const BITMAPINFOHEADER*>(first),
                                                    reinterpret_cast<const BITMAPINFOHEADER*>(second))
                                              ? ICERR_OK
                                              : ICERR_BADFORMAT;
        case ICM_DECOMPRESS_END: return ICERR_OK;
        case ICM_DECOMPRESS: return decode(reinterpret_cast<const ICDECOMPRESS*>(first));
        default: return ICERR_UNSUPPORTED;
    }
}

codec_standin::CodecScript* WINAPI codecScript() { return &script; }

}  // extern "C"
