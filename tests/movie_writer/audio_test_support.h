// Fixtures of the audio suites: WAV files made on the spot, and a scripted source reader whose
// decoded samples, flags and failures a test chooses one by one.
#pragma once

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include <tavro/com_support.h>

#include <gtest/gtest.h>

#include "media_standins.h"

namespace audiotest {

// COM and the media platform on the test's thread, with the stand-in sink writer emptied and
// offering the AAC encoder's documented types.
class MediaPlatform : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), 0);
        ASSERT_EQ(MFStartup(MF_VERSION, MFSTARTUP_FULL), S_OK);
        StandInSinkWriterReset();
        StandInAacUseDocumentedTypes();
    }
    void TearDown() override {
        MFShutdown();
        CoUninitialize();
    }
};

// Writes a PCM WAV file holding `data` (interleaved frames, little-endian) and answers whether
// it was written.
inline bool writeWav(const std::wstring& path, std::uint32_t rate, std::uint16_t bits,
                     std::uint16_t channels, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> file;
    auto put = [&file](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) file.push_back(std::uint8_t(value >> (8 * i)));
    };
    auto tag = [&file](const char* text) { file.insert(file.end(), text, text + 4); };
    const std::uint16_t blockAlign = std::uint16_t(channels * bits / 8);
    tag("RIFF");
    put(std::uint32_t(36 + data.size()), 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(1, 2);  // PCM
    put(channels, 2);
    put(rate, 4);
    put(rate * blockAlign, 4);
    put(blockAlign, 2);
    put(bits, 2);
    tag("data");
    put(std::uint32_t(data.size()), 4);
    file.insert(file.end(), data.begin(), data.end());
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

inline std::vector<std::uint8_t> bytesOf16(const std::vector<std::int16_t>& values) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(values.size() * 2);
    for (std::int16_t v : values) {
        bytes.push_back(std::uint8_t(std::uint16_t(v) & 0xFF));
        bytes.push_back(std::uint8_t(std::uint16_t(v) >> 8));
    }
    return bytes;
}

inline std::vector<std::int16_t> samplesOf(const std::vector<BYTE>& bytes) {
    std::vector<std::int16_t> values(bytes.size() / 2);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = std::int16_t(std::uint16_t(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return values;
}

// A decoded sample whose buffer holds `data`.
inline tavro::ComPtr<IMFSample> makeSample(const std::vector<std::uint8_t>& data) {
    tavro::ComPtr<IMFMediaBuffer> buffer;
    tavro::ComPtr<IMFSample> sample;
    if (FAILED(MFCreateMemoryBuffer(DWORD(data.size() ? data.size() : 1), &buffer))) return nullptr;
    BYTE* target = nullptr;
    buffer->Lock(&target, nullptr, nullptr);
    if (!data.empty()) memcpy(target, data.data(), data.size());
    buffer->Unlock();
    buffer->SetCurrentLength(DWORD(data.size()));
    if (FAILED(MFCreateSample(&sample))) return nullptr;
    sample->AddBuffer(buffer.Get());
    return sample;
}

// One answer of ReadSample.
struct ScriptedRead {
    HRESULT result = S_OK;
    DWORD flags = 0;
    LONGLONG timestamp = 0;
    std::vector<std::uint8_t> data;  // no sample when empty and `noSample`
    bool noSample = false;
    DWORD stream = 0;
};

// A source reader that answers ReadSample from a script; once the script is used up every read
// answers end of stream. Only ReadSample is served.
class ScriptedReader final : public tavro::ComObject<IMFSourceReader> {
public:
    std::deque<ScriptedRead> script;
    int reads = 0;
    std::vector<DWORD> streamsAsked;
    // The decoded format GetCurrentMediaType answers; none while the rate is 0.
    UINT32 currentRate = 0, currentBits = 0, currentChannels = 0;

    STDMETHODIMP GetStreamSelection(DWORD, WINBOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP SetStreamSelection(DWORD, WINBOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetNativeMediaType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentMediaType(DWORD, IMFMediaType** type) override {
        *type = nullptr;
        if (currentRate == 0) return E_NOTIMPL;
        tavro::ComPtr<IMFMediaType> made;
        HRESULT hr = MFCreateMediaType(&made);
        if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, currentRate);
        if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, currentBits);
        if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, currentChannels);
        if (SUCCEEDED(hr)) *type = made.Detach();
        return hr;
    }
    STDMETHODIMP SetCurrentMediaType(DWORD, DWORD*, IMFMediaType*) override { return E_NOTIMPL; }
    STDMETHODIMP SetCurrentPosition(REFGUID, REFPROPVARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP ReadSample(DWORD index, DWORD, DWORD* actual, DWORD* flags, LONGLONG* timestamp,
                            IMFSample** sample) override {
        ++reads;
        streamsAsked.push_back(index);
        *sample = nullptr;
        if (reads > 100000) return E_ABORT;  // a test that loops for ever ends anyway
        ScriptedRead next;
        if (script.empty()) {
            next.flags = MF_SOURCE_READERF_ENDOFSTREAM;
            next.noSample = true;
        } else {
            next = script.front();
            script.pop_front();
        }
        *actual = next.stream;
        *flags = next.flags;
        *timestamp = next.timestamp;
        if (SUCCEEDED(next.result) && !next.noSample) *sample = makeSample(next.data).Detach();
        return next.result;
    }
    STDMETHODIMP Flush(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetServiceForStream(DWORD, REFGUID, REFIID, void** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetPresentationAttribute(DWORD, REFGUID, PROPVARIANT*) override { return E_NOTIMPL; }
};

}  // namespace audiotest
