// Tracks from real files through Wine's own source reader (passed through by the stand-in
// mfreadwrite.dll): WAV files the suite writes, an MP3 made at build time when Debian's
// libmp3lame is there, a video-only AVI; the audio stream and its AAC type; and a whole movie
// through Writer whose audio, as it reached the sink writer, is the expected mix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "audio_mixer.h"
#include "audio_test_support.h"
#include "media_standins.h"
#include "test_folder.h"
#include "writer.h"

using standin::SinkCall;
using tavro::ComPtr;

namespace {

constexpr UINT64 kSecond = 10'000'000;

const standin::SinkWriterRecord& sink() { return *StandInSinkWriterRecord(); }

std::int16_t floorAverage(int a, int b) { return std::int16_t(int(std::floor((a + b) / 2.0))); }

// Left and right channels that differ, with odd sums, so the floor of the average shows.
std::int16_t leftAt(size_t i) { return std::int16_t(int(i * 37 % 40000) - 20000); }
std::int16_t rightAt(size_t i) { return std::int16_t(int(i * 53 % 30001) - 15000); }

// Writes `frames` frames of stereo 16-bit at `rate` and answers the expected mono samples.
std::vector<std::int16_t> writeStereo16(const std::wstring& path, UINT32 rate, size_t frames) {
    std::vector<std::int16_t> interleaved;
    std::vector<std::int16_t> mono;
    for (size_t i = 0; i < frames; ++i) {
        interleaved.push_back(leftAt(i));
        interleaved.push_back(rightAt(i));
        mono.push_back(floorAverage(leftAt(i), rightAt(i)));
    }
    EXPECT_TRUE(audiotest::writeWav(path, rate, 16, 2, audiotest::bytesOf16(interleaved)));
    return mono;
}

std::vector<std::int16_t> writeMono16(const std::wstring& path, UINT32 rate, size_t frames) {
    std::vector<std::int16_t> mono;
    for (size_t i = 0; i < frames; ++i) mono.push_back(leftAt(i * 3));
    EXPECT_TRUE(audiotest::writeWav(path, rate, 16, 1, audiotest::bytesOf16(mono)));
    return mono;
}

// A two-frame uncompressed 8 x 8 AVI: a file with one video stream and no audio.
bool writeVideoOnlyAvi(const std::wstring& path) {
    std::vector<std::uint8_t> file;
    auto put = [&file](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) file.push_back(std::uint8_t(value >> (8 * i)));
    };
    auto tag = [&file](const char* text) { file.insert(file.end(), text, text + 4); };
    auto sizeAt = [&file](size_t at) {
        const std::uint32_t size = std::uint32_t(file.size() - at - 4);
        for (int i = 0; i < 4; ++i) file[at + i] = std::uint8_t(size >> (8 * i));
    };
    const std::uint32_t width = 8, height = 8, frameBytes = width * height * 3, frames = 2;
    tag("RIFF");
    const size_t riff = file.size();
    put(0, 4);
    tag("AVI ");
    tag("LIST");
    const size_t hdrl = file.size();
    put(0, 4);
    tag("hdrl");
    tag("avih");
    put(56, 4);
    for (std::uint32_t v : {40000u, 0u, 0u, 0x10u, frames, 0u, 1u, frameBytes, width, height, 0u, 0u, 0u, 0u}) put(v, 4);
    tag("LIST");
    const size_t strl = file.size();
    put(0, 4);
    tag("strl");
    tag("strh");
    put(56, 4);
    tag("vids");
    tag("DIB ");
    for (std::uint32_t v : {0u, 0u, 0u, 1u, 25u, 0u, frames, frameBytes, 0xFFFFFFFFu, 0u}) put(v, 4);
    put(0, 2), put(0, 2), put(width, 2), put(height, 2);
    tag("strf");
    put(40, 4);
    for (std::uint32_t v : {40u, width, height}) put(v, 4);
    put(1, 2), put(24, 2);
    for (std::uint32_t v : {0u, frameBytes, 0u, 0u, 0u, 0u}) put(v, 4);
    sizeAt(strl);
    sizeAt(hdrl);
    tag("LIST");
    const size_t movi = file.size();
    put(0, 4);
    tag("movi");
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t f = 0; f < frames; ++f) {
        offsets.push_back(std::uint32_t(file.size() - movi - 4));
        tag("00db");
        put(frameBytes, 4);
        for (std::uint32_t b = 0; b < frameBytes; ++b) file.push_back(std::uint8_t(b * (f + 1)));
    }
    sizeAt(movi);
    tag("idx1");
    put(16 * frames, 4);
    for (std::uint32_t offset : offsets) {
        tag("00db");
        put(0x10, 4);
        put(offset, 4);
        put(frameBytes, 4);
    }
    sizeAt(riff);
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (!out) return false;
    const bool written = fwrite(file.data(), 1, file.size(), out) == file.size();
    return fclose(out) == 0 && written;
}

std::wstring besideThisProgram(const std::wstring& name) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + name;
}

// Reads a track chunk by chunk to its end; answers the samples before the first silent chunk
// after the track finished.
std::vector<std::int16_t> readWholeTrack(AudioTrack& track, std::uint32_t n, int mostChunks = 1000) {
    std::vector<std::int16_t> all;
    std::vector<std::int16_t> chunk(n);
    for (int k = 0; k < mostChunks && !track.finished; ++k) {
        if (FAILED(track.readTrackChunk(n, false, chunk.data()))) {
            ADD_FAILURE() << "read failed in chunk " << k;
            break;
        }
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    return all;
}

const standin::AttributeRecord* attribute(const standin::MediaTypeRecord& type, REFGUID key) {
    return type.find(key);
}

class AudioDecoding : public audiotest::MediaPlatform {
protected:
    void SetUp() override {
        MediaPlatform::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(MFCreateSinkWriterFromURL(folder.file(L"movie.mp4").c_str(), nullptr, nullptr, &sinkWriter), S_OK);
        mixer = std::make_unique<AudioMixer>(sinkWriter.Get(), 22050, 0.01);
    }
    void TearDown() override {
        mixer.reset();  // the source readers go with the tracks
        sinkWriter.Reset();
        MediaPlatform::TearDown();
    }

    HRESULT open(const std::wstring& name, UINT64 start = 0, UINT64 end = 60 * kSecond) {
        return mixer->openTrack(folder.ansiFile(name).c_str(), start, end);
    }

    TestFolder folder;
    ComPtr<IMFSinkWriter> sinkWriter;
    std::unique_ptr<AudioMixer> mixer;
};

TEST_F(AudioDecoding, StereoWavIsDownmixedSampleForSampleAndTheFirstTrackAddsTheStream) {
    const std::vector<std::int16_t> mono = writeStereo16(folder.file(L"stereo.wav"), 44100, 44100);
    StdoutCapture out;
    ASSERT_EQ(open(L"stereo.wav", 250000), S_OK);
    const std::string text = out.text();
    EXPECT_EQ(text, "creating source reader for: " + folder.ansiFile(L"stereo.wav") +
                        "\nentry bitdepth: 16, channels: 2\nAdding audio stream to movie.\nchose: 0\n");
    ASSERT_EQ(mixer->tracks.size(), 1u);
    AudioTrack& track = *mixer->tracks[0];
    EXPECT_EQ(track.sampleRate, 44100u);
    EXPECT_EQ(track.bitsPerSample, 16u);
    EXPECT_EQ(track.channels, 2u);
    EXPECT_EQ(track.start, 250000u);

    // The AAC type: the encoders' first offer, since a 16-bit stereo source's byte rate refuses
    // every later one; then the mix's PCM input, attribute by attribute.
    EXPECT_EQ(StandInAacRecord()->calls, 1);
    EXPECT_EQ(StandInAacRecord()->flags, 0x3Fu);
    EXPECT_TRUE(IsEqualGUID(StandInAacRecord()->subtype, MFAudioFormat_AAC));
    EXPECT_FALSE(StandInAacRecord()->configurationGiven);
    ASSERT_EQ(sink().outputTypes.size(), 1u);
    EXPECT_EQ(attribute(sink().outputTypes[0], MF_MT_AUDIO_NUM_CHANNELS)->u32, 1u);
    EXPECT_EQ(attribute(sink().outputTypes[0], MF_MT_AUDIO_AVG_BYTES_PER_SECOND)->u32, 12000u);
    EXPECT_TRUE(mixer->audioStreamReady);
    EXPECT_EQ(mixer->audioStreamIndex, 0u);
    ASSERT_EQ(sink().inputTypes.size(), 1u);
    const auto& input = sink().inputTypes[0].second.attributes;
    const struct { GUID key; UINT32 value; } expected[] = {
        {MF_MT_AUDIO_NUM_CHANNELS, 1},   {MF_MT_AUDIO_SAMPLES_PER_SECOND, 22050},
        {MF_MT_AUDIO_BLOCK_ALIGNMENT, 2}, {MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 44100},
        {MF_MT_AUDIO_BITS_PER_SAMPLE, 16}, {MF_MT_ALL_SAMPLES_INDEPENDENT, 1}};
    ASSERT_EQ(input.size(), 8u);
    EXPECT_TRUE(IsEqualGUID(input[0].key, MF_MT_MAJOR_TYPE) && IsEqualGUID(input[0].guid, MFMediaType_Audio));
    EXPECT_TRUE(IsEqualGUID(input[1].key, MF_MT_SUBTYPE) && IsEqualGUID(input[1].guid, MFAudioFormat_PCM));
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_TRUE(IsEqualGUID(input[2 + i].key, expected[i].key)) << "attribute " << 2 + i;
        EXPECT_EQ(input[2 + i].u32, expected[i].value) << "attribute " << 2 + i;
    }

    // Every frame in order across the platform's samples, then silence.
    StdoutCapture reading;
    std::vector<std::int16_t> decoded = readWholeTrack(track, 441);
    ASSERT_GE(decoded.size(), mono.size());
    EXPECT_TRUE(std::equal(mono.begin(), mono.end(), decoded.begin()));
    EXPECT_TRUE(std::all_of(decoded.begin() + std::ptrdiff_t(mono.size()), decoded.end(),
                            [](std::int16_t v) { return v == 0; }));
    EXPECT_EQ(reading.text(), "Finished with sample starting at: 250000\n");
}

TEST_F(AudioDecoding, LaterTracksAddNoSecondStream) {
    writeStereo16(folder.file(L"a.wav"), 44100, 4410);
    writeMono16(folder.file(L"b.wav"), 22050, 2205);
    ASSERT_EQ(open(L"a.wav"), S_OK);
    StdoutCapture out;
    ASSERT_EQ(open(L"b.wav", kSecond, 2 * kSecond), S_OK);
    EXPECT_EQ(out.text(), "creating source reader for: " + folder.ansiFile(L"b.wav") +
                              "\nentry bitdepth: 16, channels: 1\n");
    EXPECT_EQ(mixer->tracks.size(), 2u);
    EXPECT_EQ(sink().count(SinkCall::AddStream), 1);
    EXPECT_EQ(StandInAacRecord()->calls, 1);
}

TEST_F(AudioDecoding, EightBitAndTwentyFourBitSourcesComeOutAsSixteenBitMono) {
    // 8-bit mono at 11025 Hz: every byte value.
    std::vector<std::uint8_t> bytes(2560);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = std::uint8_t(i * 7);
    ASSERT_TRUE(audiotest::writeWav(folder.file(L"eight.wav"), 11025, 8, 1, bytes));
    // 24-bit stereo at 48000 Hz.
    std::vector<std::uint8_t> deep;
    std::vector<int> expected24;
    for (size_t i = 0; i < 4800; ++i) {
        const int left = int(i * 3001 % 16000000) - 8000000, right = -left / 3;
        for (int v : {left, right})
            for (int b = 0; b < 3; ++b) deep.push_back(std::uint8_t(unsigned(v) >> (8 * b)));
        expected24.push_back(floorAverage(left >> 8, right >> 8));
    }
    ASSERT_TRUE(audiotest::writeWav(folder.file(L"deep.wav"), 48000, 24, 2, deep));

    ASSERT_EQ(open(L"eight.wav"), S_OK);
    ASSERT_EQ(open(L"deep.wav"), S_OK);
    ASSERT_EQ(mixer->tracks.size(), 2u);
    AudioTrack& eight = *mixer->tracks[0];
    AudioTrack& deepTrack = *mixer->tracks[1];
    EXPECT_EQ(eight.sampleRate, 11025u);
    EXPECT_EQ(eight.channels, 1u);
    EXPECT_EQ(deepTrack.sampleRate, 48000u);
    EXPECT_EQ(deepTrack.bitsPerSample, 16u) << "a source deeper than 16 bits is asked for 16";
    EXPECT_EQ(deepTrack.channels, 2u);

    const std::vector<std::int16_t> fromEight = readWholeTrack(eight, 110);
    ASSERT_GE(fromEight.size(), bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int want = (int(bytes[i]) - 128) * 256;
        // Native 8-bit comes through exactly; a platform conversion to 16 bits may dither.
        ASSERT_NEAR(fromEight[i], want, eight.bitsPerSample == 8 ? 0 : 2) << i;
    }
    const std::vector<std::int16_t> fromDeep = readWholeTrack(deepTrack, 480);
    ASSERT_GE(fromDeep.size(), expected24.size());
    for (size_t i = 0; i < expected24.size(); ++i) ASSERT_NEAR(fromDeep[i], expected24[i], 2) << i;
}

TEST_F(AudioDecoding, TheAacChoiceKeepsTheLastAcceptableOffer) {
    writeMono16(folder.file(L"mono.wav"), 32000, 3200);  // 64000 bytes a second
    const standin::AacTypeSpec offers[] = {
        {2, 48000, 24000, false},  // the first is always chosen
        {1, 32000, 60000, false},  // acceptable
        {1, 44100, 60000, false},  // rate farther from the source's than the mix rate
        {2, 32000, 64000, false},  // stereo for a mono source
        {1, 24000, 50000, false},  // acceptable
        {0, 0, 0, true}};          // no media type: passed over, and the choice stands
    StandInAacSetTypes(offers, 6);
    StdoutCapture out;
    ASSERT_EQ(open(L"mono.wav"), S_OK);
    EXPECT_NE(out.text().find("Adding audio stream to movie.\nchose: 0\nchose: 1\nchose: 4\n"), std::string::npos)
        << out.text();
    ASSERT_EQ(sink().outputTypes.size(), 1u);
    EXPECT_EQ(attribute(sink().outputTypes[0], MF_MT_AUDIO_SAMPLES_PER_SECOND)->u32, 24000u);
    EXPECT_EQ(attribute(sink().outputTypes[0], MF_MT_AUDIO_AVG_BYTES_PER_SECOND)->u32, 50000u);
}

TEST_F(AudioDecoding, AStreamThatCannotBeAddedLeavesTheTrackAndDumpsTheFourTypes) {
    writeStereo16(folder.file(L"stereo.wav"), 44100, 4410);
    const std::string dumpTail =
        "outputN: 0, channels: 2, samples per second: 44100, bits per sample: 16, subtype: 1"
        "input  : 0, channels: 1, samples per second: 22050, bits per sample: 16, subtype: 1";
    const std::string current =
        "outputC: 0, channels: 2, samples per second: 44100, bits per sample: 16, subtype: 1";
    {
        StandInAacFail(E_FAIL);
        StdoutCapture out;
        ASSERT_EQ(open(L"stereo.wav"), S_OK);
        const std::string text = out.text();
        EXPECT_NE(text.find("FAILED: Couldn't make target audio type for sink writer -1072875852\n"
                            "-1072875852 (C00D36B4) Couldn't make target audio type for sink writer\n" +
                            current +
                            "outputT: 0, channels: 0, samples per second: 0, bits per sample: 0, subtype: 0" +
                            dumpTail),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.substr(text.size() - dumpTail.size()), dumpTail) << "the dump ends without a line end";
        EXPECT_EQ(mixer->tracks.size(), 1u);
        EXPECT_FALSE(mixer->audioStreamReady);
        EXPECT_EQ(sink().count(SinkCall::AddStream), 0);
    }
    // Chunks of a mixer without its stream go nowhere.
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    EXPECT_EQ(sink().count(SinkCall::WriteSample), 0);

    // AddStream refused: the index stays 0 and the dump names the chosen type.
    mixer = std::make_unique<AudioMixer>(sinkWriter.Get(), 22050, 0.01);
    StandInAacUseDocumentedTypes();
    StandInSinkWriterFail(SinkCall::AddStream, E_FAIL, 0, 1);
    StdoutCapture out;
    ASSERT_EQ(open(L"stereo.wav"), S_OK);
    const std::string text = out.text();
    EXPECT_NE(text.find("FAILED: failed adding audio output stream -2147467259\n"), std::string::npos) << text;
    EXPECT_NE(text.find(current + "outputT: 0, channels: 1, samples per second: 44100, bits per sample: 16, subtype: 5648" +
                        dumpTail),
              std::string::npos)
        << text;
    EXPECT_EQ(mixer->audioStreamIndex, 0u);
    EXPECT_FALSE(mixer->audioStreamReady);
}

TEST_F(AudioDecoding, FilesWithoutUsableAudioGiveNoTrack) {
    ASSERT_TRUE(writeVideoOnlyAvi(folder.file(L"video.avi")));
    {
        StdoutCapture out;
        EXPECT_EQ(open(L"video.avi"), S_OK);
        const std::string text = out.text();
        EXPECT_EQ(text, "creating source reader for: " + folder.ansiFile(L"video.avi") + "\n")
            << "a video stream is passed over without a trace";
    }
    EXPECT_TRUE(mixer->tracks.empty());
    EXPECT_EQ(sink().count(SinkCall::AddStream), 0);
    EXPECT_EQ(sink().sourceReadersCreated, 1);

    StdoutCapture out;
    EXPECT_LT(open(L"missing.wav"), 0);
    const std::string text = out.text();
    EXPECT_EQ(text.find("entry bitdepth: "), std::string::npos);
    EXPECT_NE(text.find("FAILED: Couldn't create source reader "), std::string::npos) << text;
    EXPECT_TRUE(mixer->tracks.empty());
}

TEST_F(AudioDecoding, CompressedAudioIsDecodedByThePlatform) {
    const std::wstring mp3 = besideThisProgram(L"tone.mp3");
    if (!TestFolder::exists(mp3)) GTEST_SKIP() << "no MP3: Debian's libmp3lame was not there at build time";
    ASSERT_TRUE(CopyFileW(mp3.c_str(), folder.file(L"tone.mp3").c_str(), FALSE));
    StdoutCapture out;
    ASSERT_EQ(open(L"tone.mp3"), S_OK);
    ASSERT_EQ(mixer->tracks.size(), 1u) << out.text();
    AudioTrack& track = *mixer->tracks[0];
    EXPECT_EQ(track.sampleRate, 44100u);
    EXPECT_EQ(track.channels, 2u);
    EXPECT_EQ(track.bitsPerSample, 16u) << "integer PCM was asked for";
    const std::vector<std::int16_t> decoded = readWholeTrack(track, 441, 200);
    EXPECT_TRUE(track.finished);
    // One second of a 441 Hz tone of amplitude 12000, give or take the encoder's delay.
    ASSERT_GE(decoded.size(), 44100u);
    double energy = 0;
    for (size_t i = 4410; i < 40000; ++i) energy += double(decoded[i]) * decoded[i];
    const double rms = std::sqrt(energy / (40000 - 4410));
    EXPECT_NEAR(rms, 12000 / std::sqrt(2.0), 1000);
}

// The whole movie through Writer: frames at 30 per second for a minute and two tracks.
TEST(AudioMovie, TheMixReachingTheSinkIsTheExpectedOneAndKeepsTimeWithTheVideo) {
    StandInSinkWriterReset();
    StandInAacUseDocumentedTypes();
    TestFolder folder;
    // Track A: 2 s of mono at 22050 Hz from 0; track B: 3 s of stereo at 44100 Hz from 0.5 s.
    const std::vector<std::int16_t> a = writeMono16(folder.file(L"a.wav"), 22050, 44100);
    const std::vector<std::int16_t> b = writeStereo16(folder.file(L"b.wav"), 44100, 132300);

    Writer writer;
    ASSERT_EQ(writer.initialize(folder.ansiFile(L"movie.mp4").c_str()), S_OK);
    ASSERT_EQ(writer.initializeVideo(8, 4), S_OK);
    ASSERT_EQ(writer.initializeAudio(), S_OK);
    {
        StdoutCapture out;
        EXPECT_EQ(writer.addAudioTrack(folder.ansiFile(L"a.wav").c_str(), 0, 60 * kSecond), S_OK);
        EXPECT_EQ(writer.addAudioTrack(folder.ansiFile(L"b.wav").c_str(), 5 * kSecond / 10, 60 * kSecond), S_OK);
        const std::string text = out.text();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;
    }
    const std::vector<UINT32> frame(32, 0x00336699);
    const UINT64 frameDuration = 333333;
    const int frames = 1800;
    {
        StdoutCapture out;
        for (int i = 0; i < frames; ++i) ASSERT_GE(writer.addFrame(frame.data(), frameDuration, true), 0) << i;
    }
    const DWORD audio = writer.mixer->audioStreamIndex;
    const DWORD video = writer.video->streamIndex;
    ASSERT_NE(audio, video);
    const auto chunks = sink().samplesOf(audio);
    const UINT64 videoTime = sink().samplesOf(video).size() * frameDuration;
    const UINT64 audioTime = chunks.size() * 100000;
    EXPECT_EQ(sink().samplesOf(video).size(), size_t(frames));
    EXPECT_LE(audioTime, videoTime);
    EXPECT_LT(videoTime - audioTime, 100000u) << "audio and video clocks within one chunk";

    EXPECT_EQ(writer.mixer->maxOverlap, 2);
    for (size_t k = 0; k < chunks.size(); ++k) {
        ASSERT_EQ(chunks[k]->time, LONGLONG(k * 100000)) << k;
        ASSERT_EQ(chunks[k]->duration, 100000);
        const std::vector<std::int16_t> got = audiotest::samplesOf(chunks[k]->bytes);
        ASSERT_EQ(got.size(), 220u);
        for (size_t i = 0; i < 220; ++i) {
            const size_t ia = 220 * k + i;
            int sum = ia < a.size() ? a[ia] : 0;
            if (k >= 50) {  // from 0.5 s on
                const size_t ib = 441 * (k - 50) + 2 * i;
                sum += ib < b.size() ? b[ib] : 0;
            }
            ASSERT_EQ(got[i], sum / 2) << "chunk " << k << ", sample " << i;
        }
    }
    EXPECT_TRUE(writer.mixer->allFinished);
    StdoutCapture out;
    EXPECT_GE(writer.closeup(), 0);
}

}  // namespace
