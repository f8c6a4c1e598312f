// Reelshift.exe input_file output_file: converts one movie into an MPEG-4 file (H.264 video,
// AAC audio). The outcome is told only on standard output; the exit code is always 0.
#include <windows.h>
#include <mfapi.h>

#include <tavro/boundary.h>
#include <tavro/win_handles.h>

#include "WMFConverter.h"
#include "converter_output.h"

namespace {

static_assert(MF_VERSION == 0x00020070, "the converter starts the media platform of Windows 7");
static_assert((COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE) == 6, "single-threaded apartment, no OLE1 DDE");

// True when both paths name one existing file, however spelled: the transcode would truncate
// the movie while it is being read.
bool sameFile(const wchar_t* input, const wchar_t* output) {
    const auto open = [](const wchar_t* path) {
        return tavro::adoptFileHandle(::CreateFileW(path, FILE_READ_ATTRIBUTES,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    };
    const tavro::UniqueHandle first = open(input);
    const tavro::UniqueHandle second = open(output);
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return first && second && ::GetFileInformationByHandle(first.get(), &a) &&
           ::GetFileInformationByHandle(second.get(), &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

HRESULT convert(const wchar_t* inputPath, const wchar_t* outputPath) {
    if (sameFile(inputPath, outputPath)) return E_INVALIDARG;
    WMFConverter converter;
    HRESULT hr = converter.openInput(inputPath);
    if (SUCCEEDED(hr)) reelshift::printConversionStarted();
    if (SUCCEEDED(hr)) hr = converter.selectAudioFormat();
    if (SUCCEEDED(hr)) hr = converter.selectVideoFormat();
    if (SUCCEEDED(hr)) hr = converter.selectContainer();
    if (SUCCEEDED(hr)) hr = converter.writeOutput(outputPath);
    if (SUCCEEDED(hr)) reelshift::printConversionFinished();
    return hr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    if (argc != 3) {
        reelshift::printUsage(argv[0]);
        return 0;
    }

    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const bool comStarted = SUCCEEDED(hr);
    bool platformStarted = false;
    if (comStarted) {
        hr = ::MFStartup(MF_VERSION, MFSTARTUP_FULL);
        platformStarted = SUCCEEDED(hr);
    }
    if (platformStarted) hr = tavro::guardBoundary(E_UNEXPECTED, [&] { return convert(argv[1], argv[2]); });
    // Each is given back only when it was taken.
    if (platformStarted) ::MFShutdown();
    if (comStarted) ::CoUninitialize();

    if (FAILED(hr)) reelshift::printConversionError(hr);
    return 0;
}
