#include "tiny_avi.h"

#include <vector>

namespace tavro::test {

namespace {

// Little-endian writers over a growing byte string; chunk sizes are patched once known.
class Riff {
public:
    void fourcc(const char* code) { bytes_.append(code, 4); }
    void u16(std::uint32_t value) {
        for (int i = 0; i < 2; ++i) bytes_ += char((value >> (8 * i)) & 0xFF);
    }
    void u32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes_ += char((value >> (8 * i)) & 0xFF);
    }
    void raw(const std::string& data) { bytes_ += data; }

    // Opens a chunk (or a RIFF/LIST with its form type) and answers where its size goes.
    std::size_t open(const char* code, const char* form = nullptr) {
        fourcc(code);
        const std::size_t sizeAt = bytes_.size();
        u32(0);
        if (form) fourcc(form);
        return sizeAt;
    }
    void close(std::size_t sizeAt) {
        const auto size = std::uint32_t(bytes_.size() - sizeAt - 4);
        for (int i = 0; i < 4; ++i) bytes_[sizeAt + i] = char((size >> (8 * i)) & 0xFF);
        if (size % 2) bytes_ += '\0';  // chunks are word-aligned
    }
    std::size_t size() const { return bytes_.size(); }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

struct IndexEntry {
    const char* code;
    std::uint32_t offset;  // from the "movi" form type
    std::uint32_t size;
};

void streamHeader(Riff& riff, const char* type, std::uint32_t scale, std::uint32_t rate, std::uint32_t length,
                  std::uint32_t bufferSize, std::uint32_t sampleSize, std::uint32_t width, std::uint32_t height) {
    const std::size_t strh = riff.open("strh");
    riff.fourcc(type);
    riff.u32(0);  // handler
    riff.u32(0);  // flags
    riff.u16(0);  // priority
    riff.u16(0);  // language
    riff.u32(0);  // initial frames
    riff.u32(scale);
    riff.u32(rate);
    riff.u32(0);  // start
    riff.u32(length);
    riff.u32(bufferSize);
    riff.u32(0xFFFFFFFF);  // quality: default
    riff.u32(sampleSize);
    riff.u16(0);
    riff.u16(0);
    riff.u16(width);
    riff.u16(height);
    riff.close(strh);
}

}  // namespace

std::string tinyAvi(const AviVideo& video, const AviAudio& audio) {
    const bool hasVideo = video.width != 0;
    const bool hasAudio = audio.samplesPerSecond != 0;
    const std::uint32_t rowBytes = (video.width * 3 + 3) / 4 * 4;
    const std::uint32_t frameBytes = rowBytes * video.height;
    const std::uint32_t blockAlign = 2u * audio.channels;
    const std::uint32_t audioBytes = audio.samplesPerSecond * audio.milliseconds / 1000 * blockAlign;

    Riff riff;
    const std::size_t file = riff.open("RIFF", "AVI ");
    const std::size_t hdrl = riff.open("LIST", "hdrl");
    const std::size_t avih = riff.open("avih");
    riff.u32(hasVideo ? 1'000'000 / video.framesPerSecond : 0);
    riff.u32(0);     // max bytes per second
    riff.u32(0);     // padding granularity
    riff.u32(0x10);  // AVIF_HASINDEX
    riff.u32(video.frames);
    riff.u32(0);
    riff.u32(std::uint32_t(hasVideo) + std::uint32_t(hasAudio));
    riff.u32(hasVideo ? frameBytes : audioBytes);
    riff.u32(video.width);
    riff.u32(video.height);
    for (int i = 0; i < 4; ++i) riff.u32(0);
    riff.close(avih);

    if (hasVideo) {
        const std::size_t strl = riff.open("LIST", "strl");
        streamHeader(riff, "vids", 1, video.framesPerSecond, video.frames, frameBytes, 0, video.width, video.height);
        const std::size_t strf = riff.open("strf");  // BITMAPINFOHEADER
        riff.u32(40);
        riff.u32(video.width);
        riff.u32(video.height);
        riff.u16(1);   // planes
        riff.u16(24);  // bits per pixel
        riff.u32(0);   // BI_RGB
        riff.u32(frameBytes);
        for (int i = 0; i < 4; ++i) riff.u32(0);
        riff.close(strf);
        riff.close(strl);
    }
    if (hasAudio) {
        const std::size_t strl = riff.open("LIST", "strl");
        streamHeader(riff, "auds", blockAlign, audio.samplesPerSecond * blockAlign, audioBytes / blockAlign,
                     audioBytes, blockAlign, 0, 0);
        const std::size_t strf = riff.open("strf");  // WAVEFORMATEX
        riff.u16(1);  // PCM
        riff.u16(audio.channels);
        riff.u32(audio.samplesPerSecond);
        riff.u32(audio.samplesPerSecond * blockAlign);
        riff.u16(blockAlign);
        riff.u16(16);
        riff.u16(0);  // no extra bytes
        riff.close(strf);
        riff.close(strl);
    }
    riff.close(hdrl);

    std::vector<IndexEntry> index;
    const std::size_t movi = riff.open("LIST", "movi");
    const std::size_t moviForm = movi + 4;
    const char* const videoCode = "00db";
    const char* const audioCode = hasVideo ? "01wb" : "00wb";
    for (std::uint32_t frame = 0; hasVideo && frame < video.frames; ++frame) {
        index.push_back({videoCode, std::uint32_t(riff.size() - moviForm), frameBytes});
        const std::size_t chunk = riff.open(videoCode);
        std::string pixels(frameBytes, '\0');
        for (std::uint32_t i = 0; i < frameBytes; ++i) pixels[i] = char((i * 7 + frame * 31) & 0xFF);
        riff.raw(pixels);
        riff.close(chunk);
    }
    if (hasAudio) {
        index.push_back({audioCode, std::uint32_t(riff.size() - moviForm), audioBytes});
        const std::size_t chunk = riff.open(audioCode);
        riff.raw(std::string(audioBytes, '\0'));
        riff.close(chunk);
    }
    riff.close(movi);

    const std::size_t idx1 = riff.open("idx1");
    for (const IndexEntry& entry : index) {
        riff.fourcc(entry.code);
        riff.u32(0x10);  // AVIIF_KEYFRAME
        riff.u32(entry.offset);
        riff.u32(entry.size);
    }
    riff.close(idx1);
    riff.close(file);
    return riff.bytes();
}

}  // namespace tavro::test
