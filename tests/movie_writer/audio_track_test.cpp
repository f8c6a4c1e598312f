// AudioTrack and AudioMixer against scripted source readers (the decoded samples, their sizes,
// flags and failures chosen per read) and the recording sink writer: consumption across the
// platform's samples, the end of a track, failing reads, the chunks, the resampling, the mix.
#include <gtest/gtest.h>

#include <numeric>

#include "audio_mixer.h"
#include "audio_test_support.h"
#include "media_standins.h"
#include "test_folder.h"

using audiotest::MediaPlatform;
using audiotest::ScriptedRead;
using audiotest::ScriptedReader;
using tavro::ComPtr;

namespace {

constexpr LONGLONG kSecond = 10'000'000;

std::vector<std::int16_t> ramp(size_t count, std::int16_t first = 1) {
    std::vector<std::int16_t> values(count);
    std::iota(values.begin(), values.end(), first);
    return values;
}

// A reader that gives `mono` as 16-bit frames of `channels` equal channels, framesPerSample
// frames per sample, stamped with their time at `rate`, then end of stream.
ScriptedReader* readerOf(const std::vector<std::int16_t>& mono, UINT32 rate, UINT32 channels,
                         size_t framesPerSample) {
    auto* reader = new ScriptedReader;
    for (size_t first = 0; first < mono.size(); first += framesPerSample) {
        ScriptedRead read;
        read.timestamp = LONGLONG(first) * kSecond / rate;
        std::vector<std::int16_t> frames;
        for (size_t i = first; i < std::min(mono.size(), first + framesPerSample); ++i)
            frames.insert(frames.end(), channels, mono[i]);
        read.data = audiotest::bytesOf16(frames);
        reader->script.push_back(read);
    }
    return reader;
}

std::unique_ptr<AudioTrack> trackOn(ScriptedReader* reader, UINT32 rate, UINT32 bits, UINT32 channels,
                                    UINT64 start = 0, UINT64 end = 3600 * kSecond) {
    auto track = std::make_unique<AudioTrack>();
    track->reader.Attach(reader);
    track->sampleRate = rate;
    track->bitsPerSample = bits;
    track->channels = channels;
    track->start = start;
    track->end = end;
    return track;
}

std::vector<std::int16_t> readChunk(AudioTrack& track, std::uint32_t n, HRESULT* status = nullptr,
                                    bool silenceOnly = false) {
    std::vector<std::int16_t> out(n, -999);
    const HRESULT hr = track.readTrackChunk(n, silenceOnly, out.data());
    if (status) *status = hr;
    return out;
}

std::vector<std::int16_t> slice(const std::vector<std::int16_t>& values, size_t from, size_t count) {
    std::vector<std::int16_t> part(count, 0);
    for (size_t i = 0; i < count && from + i < values.size(); ++i) part[i] = values[from + i];
    return part;
}

using AudioTrackReading = MediaPlatform;

TEST_F(AudioTrackReading, ChunksContinueAcrossThePlatformsSamplesAndEndInSilence) {
    // 2000 stereo frames in platform samples of 1000 frames each.
    const std::vector<std::int16_t> mono = ramp(2000);
    ScriptedReader* reader = readerOf(mono, 44100, 2, 1000);
    auto track = trackOn(reader, 44100, 16, 2, 250000);
    StdoutCapture out;

    EXPECT_EQ(readChunk(*track, 441), slice(mono, 0, 441));
    EXPECT_EQ(readChunk(*track, 441), slice(mono, 441, 441)) << "goes on from frame 441";
    EXPECT_EQ(track->readPosition, 882 * 4);
    EXPECT_EQ(readChunk(*track, 441), slice(mono, 882, 441)) << "across the two samples";
    EXPECT_EQ(readChunk(*track, 441), slice(mono, 1323, 441));
    EXPECT_FALSE(track->finished);
    // 236 frames are left: they come first, then zeros.
    EXPECT_EQ(readChunk(*track, 441), slice(mono, 1764, 441));
    EXPECT_TRUE(track->finished);
    const int readsAtEnd = reader->reads;
    EXPECT_EQ(readChunk(*track, 441), std::vector<std::int16_t>(441, 0));
    EXPECT_EQ(reader->reads, readsAtEnd) << "a finished track reads no more";
    EXPECT_EQ(out.text(), "Finished with sample starting at: 250000\n");
}

TEST_F(AudioTrackReading, ATrackEndsWhereItsLengthOnItsOwnTimeLineEnds) {
    // From 5 s to 6 s on the movie's time line: one second of the file.
    auto* reader = new ScriptedReader;
    for (LONGLONG stamp : {0LL, kSecond / 2, kSecond, kSecond * 6 / 5, kSecond * 2})
        reader->script.push_back({S_OK, 0, stamp, audiotest::bytesOf16({std::int16_t(1 + stamp / 1000000)})});
    // A sample that comes with a stream tick ends nothing, wherever it lies.
    reader->script.insert(reader->script.begin() + 3,
                          ScriptedRead{S_OK, MF_SOURCE_READERF_STREAMTICK, kSecond * 11 / 10, audiotest::bytesOf16({12})});
    auto track = trackOn(reader, 100, 16, 1, 5 * kSecond, 6 * kSecond);
    StdoutCapture out;
    // The sample that passes the end still sounds; nothing after it does.
    EXPECT_EQ(readChunk(*track, 6), (std::vector<std::int16_t>{1, 6, 11, 12, 13, 0}));
    EXPECT_TRUE(track->finished);
    EXPECT_EQ(track->lastTimestamp, kSecond * 6 / 5);
    EXPECT_EQ(out.text(), "Finished with sample starting at: 50000000\n");
}

TEST_F(AudioTrackReading, AFailingReadEndsTheChunkAndIsTriedAgainNextTime) {
    auto* reader = new ScriptedReader;
    reader->script.push_back({E_FAIL, 0, 0, {}, true});
    reader->script.push_back({S_OK, 0, 0, audiotest::bytesOf16({7, 8, 9})});
    auto track = trackOn(reader, 100, 16, 1);
    HRESULT status = S_OK;
    readChunk(*track, 3, &status);
    EXPECT_EQ(status, E_FAIL);
    EXPECT_EQ(reader->reads, 1) << "the failed read is not repeated on the spot";
    EXPECT_FALSE(track->finished);
    EXPECT_EQ(readChunk(*track, 3, &status), (std::vector<std::int16_t>{7, 8, 9}));
    EXPECT_EQ(status, S_OK);
}

TEST_F(AudioTrackReading, ReadsWithoutSampleAreRepeatedUntilOneCarriesSound) {
    auto* reader = new ScriptedReader;
    reader->script.push_back({S_OK, MF_SOURCE_READERF_STREAMTICK, 0, {}, true});
    reader->script.push_back({S_OK, MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED, 0, {}, true});
    reader->script.push_back({S_OK, 0, 0, audiotest::bytesOf16({5, 6})});
    auto track = trackOn(reader, 100, 16, 1);
    EXPECT_EQ(readChunk(*track, 2), (std::vector<std::int16_t>{5, 6}));
    EXPECT_EQ(reader->reads, 3);
}

TEST_F(AudioTrackReading, AReaderThatNeverRecoversIsGivenUpSoWritingCanEnd) {
    auto* reader = new ScriptedReader;
    for (int i = 0; i < 200; ++i) reader->script.push_back({MF_E_INVALIDREQUEST, 0, 0, {}, true});
    auto track = trackOn(reader, 100, 16, 1);
    StdoutCapture out;
    int failures = 0;
    for (int chunk = 0; chunk < 150 && !track->finished; ++chunk) {
        HRESULT status = S_OK;
        readChunk(*track, 1, &status);
        failures += FAILED(status);
    }
    EXPECT_TRUE(track->finished);
    EXPECT_EQ(failures, 100);
    EXPECT_EQ(out.text(), "Finished with sample starting at: 0\n");

    // A reader that reports an error takes no further request: the track ends at once.
    auto* broken = new ScriptedReader;
    broken->script.push_back({S_OK, MF_SOURCE_READERF_ERROR, 0, {}, true});
    auto second = trackOn(broken, 100, 16, 1);
    HRESULT status = S_OK;
    readChunk(*second, 1, &status);
    EXPECT_LT(status, 0);
    EXPECT_TRUE(second->finished);
    EXPECT_EQ(broken->reads, 1);
}

TEST_F(AudioTrackReading, FormatsThatCannotBeReadGiveSilenceWithoutReading) {
    const struct { UINT32 rate, bits, channels; } formats[] = {{0, 16, 2}, {44100, 0, 2}, {44100, 16, 0}};
    for (const auto& f : formats) {
        auto* reader = readerOf(ramp(100), 44100, 2, 50);
        auto track = trackOn(reader, f.rate, f.bits, f.channels);
        HRESULT status = E_FAIL;
        EXPECT_EQ(readChunk(*track, 10, &status), std::vector<std::int16_t>(10, 0));
        EXPECT_EQ(status, S_OK);
        EXPECT_TRUE(track->finished);
        EXPECT_EQ(reader->reads, 0);
    }
}

TEST_F(AudioTrackReading, SilenceOnlyReadsNothingAndEachTrackReadsItsOwnStream) {
    auto* reader = readerOf(ramp(10), 100, 1, 10);
    auto track = trackOn(reader, 100, 16, 1);
    track->streamIndex = 2;
    EXPECT_EQ(readChunk(*track, 4, nullptr, true), std::vector<std::int16_t>(4, 0));
    EXPECT_EQ(reader->reads, 0);
    for (auto& read : reader->script) read.stream = 2;
    EXPECT_EQ(readChunk(*track, 4), ramp(4));
    EXPECT_EQ(reader->streamsAsked, std::vector<DWORD>{2});
}

TEST_F(AudioTrackReading, AFormatChangeOfTheDecoderIsFollowed) {
    auto* reader = new ScriptedReader;
    reader->script.push_back({S_OK, 0, 0, audiotest::bytesOf16({100, 200})});
    // From the second sample on the decoder gives stereo.
    reader->script.push_back({S_OK, MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED, 1, audiotest::bytesOf16({10, 30, -5, -6})});
    reader->currentRate = 100;
    reader->currentBits = 16;
    reader->currentChannels = 2;
    auto track = trackOn(reader, 100, 16, 1);
    EXPECT_EQ(readChunk(*track, 4), (std::vector<std::int16_t>{100, 200, 20, -6}));
    EXPECT_EQ(track->channels, 2u);
}

TEST_F(AudioTrackReading, APartialFrameAtASamplesEndIsSkipped) {
    auto* reader = new ScriptedReader;
    std::vector<std::uint8_t> oneAndAHalf = audiotest::bytesOf16({10, 20, 99});  // stereo: frame + half
    reader->script.push_back({S_OK, 0, 0, oneAndAHalf});
    reader->script.push_back({S_OK, 0, 1, audiotest::bytesOf16({30, 40})});
    auto track = trackOn(reader, 100, 16, 2);
    EXPECT_EQ(readChunk(*track, 3), (std::vector<std::int16_t>{15, 35, 0}));
    EXPECT_TRUE(track->finished);
}

// The mixer over the recording sink writer, with an audio stream set up by hand and tracks on
// scripted readers.
class AudioMixing : public MediaPlatform {
protected:
    void SetUp() override {
        MediaPlatform::SetUp();
        ASSERT_EQ(MFCreateSinkWriterFromURL(folder.file(L"movie.mp4").c_str(), nullptr, nullptr, &sinkWriter), S_OK);
        ComPtr<IMFMediaType> type;
        ASSERT_EQ(MFCreateMediaType(&type), S_OK);
        type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
        DWORD video = 0;
        ASSERT_EQ(sinkWriter->AddStream(type.Get(), &video), S_OK);  // stands for the video stream
        ASSERT_EQ(sinkWriter->SetInputMediaType(video, type.Get(), nullptr), S_OK);
        ASSERT_EQ(sinkWriter->AddStream(type.Get(), &audioStream), S_OK);
        ASSERT_EQ(sinkWriter->SetInputMediaType(audioStream, type.Get(), nullptr), S_OK);
        ASSERT_EQ(sinkWriter->BeginWriting(), S_OK);
        mixer = std::make_unique<AudioMixer>(sinkWriter.Get(), 22050, 0.01);
        mixer->audioStreamIndex = audioStream;
        mixer->audioStreamReady = true;
    }
    void TearDown() override {
        mixer.reset();
        sinkWriter.Reset();
        MediaPlatform::TearDown();
    }

    void add(std::unique_ptr<AudioTrack> track) { mixer->tracks.push_back(std::move(track)); }

    // The samples of every chunk written to the audio stream, chunk by chunk.
    std::vector<std::vector<std::int16_t>> chunksWritten() {
        std::vector<std::vector<std::int16_t>> chunks;
        for (const auto* s : StandInSinkWriterRecord()->samplesOf(audioStream))
            chunks.push_back(audiotest::samplesOf(s->bytes));
        return chunks;
    }

    TestFolder folder;
    ComPtr<IMFSinkWriter> sinkWriter;
    DWORD audioStream = 0;
    std::unique_ptr<AudioMixer> mixer;
};

TEST_F(AudioMixing, AChunkIs220SamplesStampedWithTheClockAnd10Ms) {
    const std::vector<std::int16_t> mono = ramp(1000);
    add(trackOn(readerOf(mono, 22050, 1, 300), 22050, 16, 1));
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    const auto samples = StandInSinkWriterRecord()->samplesOf(audioStream);
    ASSERT_EQ(samples.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(samples[k]->bufferCount, 1u);
        EXPECT_EQ(samples[k]->totalLength, 440u);
        EXPECT_EQ(samples[k]->time, LONGLONG(k) * 100000);
        EXPECT_EQ(samples[k]->duration, 100000);
    }
    EXPECT_EQ(mixer->nextSampleTime, 200000u);
    EXPECT_EQ(chunksWritten()[0], slice(mono, 0, 220)) << "22050 Hz is copied as is";
    EXPECT_EQ(chunksWritten()[1], slice(mono, 220, 220));
    EXPECT_EQ(StandInSinkWriterRecord()->samplesOf(0).size(), 0u) << "nothing reaches the video stream";
}

TEST_F(AudioMixing, ATrackSoundsFromTheFirstChunkAtOrAfterItsStart) {
    const std::vector<std::int16_t> mono = ramp(1000);
    add(trackOn(readerOf(mono, 22050, 1, 1000), 22050, 16, 1, 250000));
    for (int k = 0; k < 4; ++k) ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    const auto chunks = chunksWritten();
    ASSERT_EQ(chunks.size(), 4u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(chunks[k], std::vector<std::int16_t>(220, 0)) << k;
    EXPECT_EQ(chunks[3], slice(mono, 0, 220));
}

TEST_F(AudioMixing, TracksAreResampledToTheMixRate) {
    const std::vector<std::int16_t> fast = ramp(2000);
    const std::vector<std::int16_t> slow = ramp(500, 5000);
    mixer->maxOverlap = 1;
    mixer->prepared = true;
    // One track at a time: the mixer divides by the count it is given.
    add(trackOn(readerOf(fast, 44100, 2, 700), 44100, 16, 2));
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    mixer->tracks.clear();
    add(trackOn(readerOf(slow, 11025, 1, 700), 11025, 16, 1));
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    const auto chunks = chunksWritten();
    ASSERT_EQ(chunks.size(), 3u);
    for (size_t o = 0; o < 220; ++o) {
        ASSERT_EQ(chunks[0][o], fast[2 * o]) << "even samples 0 to 438, at " << o;
        ASSERT_EQ(chunks[1][o], fast[441 + 2 * o]) << "the next chunk starts at sample 441";
        ASSERT_EQ(chunks[2][o], o % 2 ? 0 : slow[o / 2]) << "each sample, then a zero";
    }
}

TEST_F(AudioMixing, TheMixIsTheSumDividedByTheTracksThatSoundTogether) {
    add(trackOn(readerOf(std::vector<std::int16_t>(220, 3), 22050, 1, 220), 22050, 16, 1, 0, kSecond));
    add(trackOn(readerOf(std::vector<std::int16_t>(220, 0), 22050, 1, 220), 22050, 16, 1, 0, kSecond));
    add(trackOn(readerOf(std::vector<std::int16_t>(220, -3), 22050, 1, 220), 22050, 16, 1, 2 * kSecond, 3 * kSecond));
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    EXPECT_EQ(mixer->maxOverlap, 2);
    EXPECT_EQ(chunksWritten()[0], std::vector<std::int16_t>(220, 1)) << "(3 + 0) / 2";

    mixer->tracks.front()->finished = true;
    mixer->nextSampleTime = 2 * kSecond;
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    EXPECT_EQ(chunksWritten()[1], std::vector<std::int16_t>(220, -1)) << "(-3 + 0) / 2 truncates toward zero";
}

TEST_F(AudioMixing, TracksLaidEndToEndSoundAtFullLevelInEitherOrder) {
    // The later track is added first.
    add(trackOn(readerOf(std::vector<std::int16_t>(220, 1000), 22050, 1, 220), 22050, 16, 1, 100000, 200000));
    add(trackOn(readerOf(std::vector<std::int16_t>(220, 2000), 22050, 1, 220), 22050, 16, 1, 0, 100000));
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    EXPECT_EQ(mixer->maxOverlap, 1);
    EXPECT_EQ(chunksWritten()[0], std::vector<std::int16_t>(220, 2000));
    EXPECT_EQ(chunksWritten()[1], std::vector<std::int16_t>(220, 1000));
}

TEST_F(AudioMixing, ALoudOverlapSaturatesInsteadOfWrapping) {
    // The first track is said to end at 100,000 but its one decoded sample runs for a second;
    // the second begins at 100,000, so for a while both sound though the count is 1.
    add(trackOn(readerOf(std::vector<std::int16_t>(22050, 30000), 22050, 1, 22050), 22050, 16, 1, 0, 100000));
    add(trackOn(readerOf(std::vector<std::int16_t>(22050, 30000), 22050, 1, 22050), 22050, 16, 1, 100000, kSecond));
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    EXPECT_EQ(mixer->maxOverlap, 1);
    EXPECT_EQ(chunksWritten()[0], std::vector<std::int16_t>(220, 30000));
    EXPECT_EQ(chunksWritten()[1], std::vector<std::int16_t>(220, 32767));
}

TEST_F(AudioMixing, AfterEveryTrackFinishedFramesGetSilenceAndTheRestIsWritten) {
    add(trackOn(readerOf(ramp(500), 22050, 1, 500), 22050, 16, 1));
    ASSERT_EQ(mixer->writeRemainingChunks(), S_OK);
    EXPECT_TRUE(mixer->allFinished);
    auto chunks = chunksWritten();
    ASSERT_EQ(chunks.size(), 3u) << "500 samples: two full chunks and one of 60 samples";
    EXPECT_EQ(chunks[2], slice(ramp(500), 440, 220));

    EXPECT_EQ(mixer->writeRemainingChunks(), S_OK);
    EXPECT_EQ(mixer->writeAudioChunk(false), S_OK);
    EXPECT_EQ(chunksWritten().size(), 3u) << "nothing left to write";
    ASSERT_EQ(mixer->writeAudioChunk(true), S_OK);
    chunks = chunksWritten();
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[3], std::vector<std::int16_t>(220, 0));
    EXPECT_EQ(StandInSinkWriterRecord()->samplesOf(audioStream)[3]->time, 300000);
}

TEST_F(AudioMixing, WritingTheRestEndsEvenWhenATrackCannotBeRead) {
    auto* reader = new ScriptedReader;
    for (int i = 0; i < 500; ++i) reader->script.push_back({E_FAIL, 0, 0, {}, true});
    add(trackOn(reader, 22050, 16, 1));
    StdoutCapture out;
    EXPECT_EQ(mixer->writeRemainingChunks(), S_OK);
    EXPECT_TRUE(mixer->allFinished);
    EXPECT_EQ(chunksWritten().size(), 100u) << "silent chunks while the track failed";
}

TEST_F(AudioMixing, WithoutTracksTheFirstChunkFinishesEverything) {
    EXPECT_EQ(mixer->writeAudioChunk(false), S_OK);
    EXPECT_TRUE(mixer->allFinished);
    EXPECT_TRUE(mixer->prepared);
    EXPECT_EQ(mixer->maxOverlap, 1);
    EXPECT_EQ(mixer->writeRemainingChunks(), S_OK);
    EXPECT_EQ(chunksWritten().size(), 1u);
}

TEST_F(AudioMixing, WithoutAnAudioStreamChunksGoNowhereButTheClockRuns) {
    mixer->audioStreamReady = false;
    mixer->audioStreamIndex = 0;  // the video stream's index
    add(trackOn(readerOf(ramp(1000), 22050, 1, 1000), 22050, 16, 1));
    EXPECT_EQ(mixer->writeAudioChunk(true), S_OK);
    EXPECT_EQ(mixer->writeAudioChunk(true), S_OK);
    EXPECT_EQ(StandInSinkWriterRecord()->samples.size(), 0u);
    EXPECT_EQ(mixer->nextSampleTime, 200000u);
    EXPECT_EQ(mixer->tracks[0]->readPosition, 440 * 2) << "the track kept time too";
}

TEST_F(AudioMixing, AChunkThatCannotBeWrittenIsReportedAndReturned) {
    add(trackOn(readerOf(ramp(1000), 22050, 1, 1000), 22050, 16, 1));
    StandInSinkWriterFail(standin::SinkCall::WriteSample, E_FAIL, 0, 1);
    StdoutCapture out;
    EXPECT_EQ(mixer->writeAudioChunk(true), E_FAIL);
    EXPECT_EQ(out.text(), "FAILED: Failed to write audio sample -2147467259\n"
                          "-2147467259 (80004005) Failed to write audio sample\n");
    EXPECT_EQ(mixer->nextSampleTime, 100000u) << "the sample was made, so its time is spent";
    EXPECT_EQ(mixer->writeRemainingChunks(), S_OK);
}

}  // namespace
