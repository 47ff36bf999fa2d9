#pragma once

#include <filesystem>

namespace kolvex {

// A file written under a hidden temporary name beside its destination and moved into place
// only when complete, so a failed or cancelled write leaves nothing behind and a file that
// appeared at the destination in the meantime is never replaced.
// One object belongs to one thread.
class StagedOutput {
public:
    explicit StagedOutput(std::filesystem::path destination);
    ~StagedOutput();  // removes the temporary file unless committed
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // Where to write.
    const std::filesystem::path& temporaryPath() const { return m_temporary; }
    const std::filesystem::path& destination() const { return m_destination; }

    // Moves the written file to the destination without replacing anything there. Throws
    // ConversionError::outputNameUnavailable when the destination is taken,
    // insufficientPermissions(destination) when the move is refused.
    void commit();

private:
    std::filesystem::path m_destination;
    std::filesystem::path m_temporary;
    bool m_committed = false;
};

}  // namespace kolvex
