// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <filesystem>
#include <stop_token>

struct AVDictionary;
struct AVFormatContext;

namespace kolvex {

// A local media file opened with libavformat, its streams found, for reading in this process.
// Every blocking read inside it ends once `stop` is triggered or the time limit has passed. One
// thread at a time.
class LibavInput {
public:
    // How far the streams are read before the input is handed out.
    enum class Reading {
        // As avformat_find_stream_info reads them: packets are read and decoded until every
        // stream's facts are known (pixel format, frame rate, decoder delay…).
        streams,
        // The container's header only, when it is a kind whose header states every stream
        // (MP4/QuickTime, Matroska/WebM) and it does state each one's codec, picture size or
        // sound format, and the duration; otherwise as `streams`. What a copy of the streams and
        // a look at what a file holds need, without starting a decoder.
        headersWhenComplete,
        // The container's header alone, whatever it states: for a look at the first packets.
        headersOnly,
    };

    // Blocks while the headers are read. Throws ConversionError::unreadableInput for what is not
    // a readable regular file (a FIFO, a device), corruptedInput for a file that cannot be read
    // as media, inputTooLarge when its container claims pictures larger than maxFramePixels,
    // OperationCancelled when stopped.
    LibavInput(const std::filesystem::path& url, std::stop_token stop, std::chrono::seconds timeLimit,
               Reading reading = Reading::streams);
    ~LibavInput();
    LibavInput(const LibavInput&) = delete;
    LibavInput& operator=(const LibavInput&) = delete;

    AVFormatContext& format() const { return *m_context; }
    // Reads from here on end once `stop` is triggered or `timeLimit` from now has passed: for an
    // input handed on to another reader.
    void rearm(std::stop_token stop, std::chrono::seconds timeLimit);
    const std::filesystem::path& url() const { return m_url; }
    // The largest picture read in process (twice 8K's area, in any shape): a header may claim any
    // size, and a decoder allocates what it claims before the data proves it false.
    static constexpr long long maxFramePixels = 8192LL * 8192;
    // Whether some stream of an opened input claims pictures larger than maxFramePixels.
    static bool claimsOversizedPictures(const AVFormatContext& format);
    // Reads the streams' facts as avformat_find_stream_info does, with the decoders it runs
    // refusing pictures over the limit and using one thread: what reading the headers costs does
    // not grow with what a file claims, nor with the machine's cores. Returns its result.
    static int findStreamInfo(AVFormatContext& format);
    // Whether an opened input's header alone states what `Reading::headersWhenComplete` asks for.
    static bool headerStatesStreams(const AVFormatContext& format);
    // Whether the streams were read past the header (always, unless the header was enough).
    bool streamsRead() const { return m_streamsRead; }

    // A time in seconds as ffprobe prints it (six decimals), read back: our readings and the
    // program's agree to the bit.
    static double printedSeconds(double seconds);

private:
    struct Interrupt {
        std::stop_token stop;
        std::chrono::steady_clock::time_point deadline;
    };
    static int interrupted(void* opaque);

    std::filesystem::path m_url;
    Interrupt m_interrupt;
    AVFormatContext* m_context = nullptr;
    bool m_streamsRead = true;
};

}  // namespace kolvex
