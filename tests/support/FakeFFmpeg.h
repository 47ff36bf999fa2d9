// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kolvex::testing {

// A stand-in for the ffmpeg program: a shell script written into `folder` that prints
// canned output, exits with a chosen status, optionally writes the output file (its last
// argument), and records the arguments it was given. For failure paths and argument checks.
class FakeFFmpeg {
public:
    explicit FakeFFmpeg(const std::filesystem::path& folder);

    std::filesystem::path ffmpeg() const { return m_folder / "ffmpeg"; }

    // What the named program ("ffmpeg") does on its next runs.
    void setStandardOutput(const std::string& program, const std::string& text) const;
    void setStandardError(const std::string& program, const std::string& text) const;
    void setExitCode(const std::string& program, int code) const;
    // Writes these bytes to its last argument before exiting.
    void setWritesOutput(const std::string& program, const std::string& bytes) const;
    // Prints "started" on standard output, then waits until killed.
    void setHangs(const std::string& program) const;

    // The arguments of its last run (empty when it never ran).
    std::vector<std::string> lastArguments(const std::string& program) const;
    // How many times it ran.
    int runCount(const std::string& program) const;

private:
    std::filesystem::path state(const std::string& program) const { return m_folder / (program + ".state"); }
    std::filesystem::path m_folder;
};

}  // namespace kolvex::testing
