#pragma once

#include <chrono>
#include <filesystem>
#include <stop_token>

struct AVFormatContext;

namespace kolvex {

// A local media file opened with libavformat, its streams found, for reading in this process.
// Every blocking read inside it ends once `stop` is triggered or the time limit has passed. One
// thread at a time.
class LibavInput {
public:
    // Blocks while the headers are read. Throws ConversionError::corruptedInput for a file that
    // cannot be read as media, OperationCancelled when stopped.
    LibavInput(const std::filesystem::path& url, std::stop_token stop, std::chrono::seconds timeLimit);
    ~LibavInput();
    LibavInput(const LibavInput&) = delete;
    LibavInput& operator=(const LibavInput&) = delete;

    AVFormatContext& format() const { return *m_context; }
    const std::filesystem::path& url() const { return m_url; }
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
};

}  // namespace kolvex
