#pragma once

#include <memory>

class QFileDialog;

namespace kolvex {

// The "Convert Files…" chooser: several existing files, "Convert" as its button, and a detail
// view whose size, type and date columns are as wide as what they show in the current
// font (Qt's own widths are fixed and cut "19.5 KiB" to "19....KiB"). GUI thread only.
std::unique_ptr<QFileDialog> makeConvertFilesDialog();

}  // namespace kolvex
