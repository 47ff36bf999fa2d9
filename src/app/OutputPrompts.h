// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

namespace kolvex {

class UserDefaults;

// The questions a run asks when the settings leave a choice to the user. GUI thread only.
namespace OutputPrompts {

// Where the last folder chosen for a run's outputs is kept.
inline constexpr const char* kLastFolderKey = "KolvexLastOutputFolder";

// Both questions open once the event being handled has returned (a drop must finish before a
// dialog shows), as windows of their own in front of the user with the keyboard; neither
// blocks the application (the tray's menu still opens), and each answers at most once. One
// question is on screen at a time: asking another takes the one before down unanswered.

// A folder chooser at the last folder chosen (else the home folder); answers with the folder,
// or none when the user cancelled. The folder chosen is remembered in `defaults`. Given the
// window the files were dragged from (an X window; 0: none), it opens beside that window where
// the screen has room, and that window is active again once it closes.
void chooseFolder(UserDefaults& defaults, std::uint64_t sourceWindow,
                  std::function<void(std::optional<std::filesystem::path>)> answer);

// Whether to keep both files (the new one gets a number) or skip the files whose names are
// taken; answers true to keep both. Return keeps both, Escape skips.
void keepBoth(const std::vector<std::filesystem::path>& takenNames, std::function<void(bool)> answer);

// Takes the question on screen down without answering it, also one asked but not yet shown:
// the drop it asked about is gone.
void withdraw();

}  // namespace OutputPrompts

}  // namespace kolvex
