// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace kolvex {

// The file the welcome window offers to try the Portal on: a 1200 × 800 PNG with a soft
// colour gradient crossed by a ripple, written once into the Downloads folder (or Pictures, or
// the home folder) and reused when it is already there. Blocking; any thread.
struct SampleFile {
    class Failure : public std::exception {
    public:
        enum class Kind { couldNotWrite, couldNotDraw };

        // The PNG could not be written; carries the file that was attempted.
        static Failure couldNotWrite(std::filesystem::path url);
        // The picture could not be drawn.
        static Failure couldNotDraw();

        Kind kind() const { return m_kind; }
        const std::filesystem::path& url() const { return m_url; }
        const char* what() const noexcept override { return m_what.c_str(); }

    private:
        Failure(Kind kind, std::filesystem::path url);
        Kind m_kind;
        std::filesystem::path m_url;
        std::string m_what;
    };

    // Where the sample may go; injectable so tests never touch the real home folder.
    struct Places {
        std::function<std::optional<std::filesystem::path>()> downloads;  // none when there is none
        std::function<std::optional<std::filesystem::path>()> pictures;   // none when there is none
        std::function<std::optional<std::filesystem::path>()> home;
        std::function<bool(const std::filesystem::path&)> isWritable;    // a folder's writability

        // Downloads and Pictures from the XDG user dirs, $HOME, access(W_OK).
        static Places system();
    };

    static constexpr int width = 1200;
    static constexpr int height = 800;

    // The sample in `folder` when given and writable, else in the first writable of Downloads,
    // Pictures and the home folder: a place the user finds it again, never a shared temporary
    // folder. Anything already at that path is returned as it is. A new file appears whole or
    // not at all. Throws Failure (couldNotWrite when no place is writable).
    static std::filesystem::path create(const std::string& name, const std::optional<std::filesystem::path>& folder);
    static std::filesystem::path create(const std::string& name, const std::optional<std::filesystem::path>& folder,
                                        const Places& places);

    // The Downloads folder named in an XDG user-dirs file ("$HOME/…" or an absolute path);
    // none when it is not named, or names the home folder itself.
    static std::optional<std::filesystem::path> downloadsFolder(const std::string& userDirsText,
                                                                const std::filesystem::path& home);
    // The same for any user dir key ("XDG_PICTURES_DIR").
    static std::optional<std::filesystem::path> userFolder(const std::string& userDirsText, const std::string& key,
                                                           const std::filesystem::path& home);
};

}  // namespace kolvex
