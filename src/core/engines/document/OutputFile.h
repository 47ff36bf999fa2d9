#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kolvex {

// A file written beside its destination under a hidden temporary name and moved into place
// only when complete, without ever replacing a file that is already there. Removes the
// temporary file on destruction unless committed. One owner; not shared between threads.
class OutputFile {
public:
    explicit OutputFile(std::filesystem::path destination);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Where to write the contents before committing.
    const std::filesystem::path& temporaryPath() const { return m_temporary; }
    const std::filesystem::path& destination() const { return m_destination; }

    // Writes the bytes to the temporary file. Throws insufficientPermissions(destination) when the
    // folder cannot be written, std::filesystem::filesystem_error for other failures.
    void write(std::string_view bytes);
    // Moves the temporary file to the destination. Throws outputNameUnavailable(destination) when
    // something appeared there meanwhile; the temporary file is then removed.
    void commit();

    // write() then commit().
    static void writeAtomically(const std::filesystem::path& destination, std::string_view bytes);

private:
    std::filesystem::path m_destination;
    std::filesystem::path m_temporary;
    bool m_committed = false;
};

// Reads a whole regular file of at most `limit` bytes. A missing, unreadable or special file
// (a folder, a FIFO, a device) and a larger file throw corruptedInput(path); a FIFO is never
// waited on.
std::string readSourceFile(const std::filesystem::path& path, uintmax_t limit);

}  // namespace kolvex
