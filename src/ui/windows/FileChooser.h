// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kolvex {

// The desktop's own file chooser, asked without waiting: `show` returns at once and the answer
// comes later from the event loop, so the tray, the Portal and running conversions carry on
// while it is up. Names come back as the bytes the file system has, never through a text type,
// so a name that is not UTF-8 is chosen like any other. GUI thread only.
class FileChooser {
public:
    enum class Mode {
        openFiles,    // one or more existing files
        openFile,     // one existing file
        chooseFolder  // one folder
    };
    struct Request {
        Mode mode = Mode::openFiles;
        std::string title;        // UTF-8
        std::string acceptLabel;  // UTF-8, with GTK's mnemonic underscore where wanted
        std::optional<std::filesystem::path> startFolder;  // none: the chooser's own choice
        // The window the question is about (an X window; 0: none): the chooser opens beside it
        // where the screen has room, belongs to it (the window manager keeps it above it), and
        // leaves it active when it closes.
        std::uint64_t besideWindow = 0;
    };
    // What the user chose; empty when they cancelled or closed the chooser.
    using Answer = std::function<void(std::vector<std::filesystem::path>)>;
    using Id = std::uint64_t;

    virtual ~FileChooser() = default;
    // Shows a chooser and returns its id. `answer` is called once, on the GUI thread, when the
    // user answers; never when the chooser is withdrawn. With no desktop to show it on, it is
    // answered with nothing at once.
    virtual Id show(const Request& request, Answer answer) = 0;
    // Closes a chooser still up without an answer (its question has gone); nothing for an id
    // that has answered or is unknown.
    virtual void withdraw(Id id) = 0;
    // Whether the chooser `id` is still up, waiting for the user.
    virtual bool isShown(Id id) const = 0;
};

}  // namespace kolvex
