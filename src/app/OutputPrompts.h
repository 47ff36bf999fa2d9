#pragma once

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

// Opens a folder chooser at the last folder chosen (else the home folder) once the event being
// handled has returned — a drop must finish before a dialog runs — and answers with the folder,
// or none when the user cancelled. The folder chosen is remembered in `defaults`.
void chooseFolder(UserDefaults& defaults, std::function<void(std::optional<std::filesystem::path>)> answer);

// Asks once whether to keep both files (the new one gets a number) or skip the files whose
// names are taken. True keeps both.
bool keepBoth(const std::vector<std::filesystem::path>& takenNames);

}  // namespace OutputPrompts

}  // namespace kolvex
