// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kolvex {

// The files of one drag, in the order the drag source lists them.
//
// A payload can be pending: the drag is known to be under way but its source has not (yet)
// told us its files — some sources answer only the window they are dropping on. The Portal
// then takes the files from its own drop view and completes the payload; a drag that turns
// out to carry no files is dismissed without a commit.
struct DragPayload {
    std::vector<std::filesystem::path> urls;
    bool pending = false;
    // The window the files were dragged out of (an X window), 0 when not known: a question about
    // the drop opens beside it and leaves it active, so the next drag from it starts at once.
    std::uint64_t sourceWindow = 0;

    DragPayload() = default;
    explicit DragPayload(std::vector<std::filesystem::path> files) : urls(std::move(files)) {}
    // A payload whose files are not known yet.
    static DragPayload pendingFiles();

    std::size_t count() const { return urls.size(); }
    bool isEmpty() const { return urls.empty(); }
    // The first file; none when there is none.
    std::optional<std::filesystem::path> primary() const;
    // "" for no file; the last path component of a single file; "N files" for several.
    std::string label() const;

    // Fills in the files of a pending payload (or replaces them) and clears `pending`.
    void complete(std::vector<std::filesystem::path> files);

    bool operator==(const DragPayload&) const = default;
};

}  // namespace kolvex
