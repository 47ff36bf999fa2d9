// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/ToolSheetPresenter.h"

namespace kolvex {

// The sheets of the picture tools. Each reads its file off the GUI thread through the request.

// Crop: a picture of the image (or a frame of the video) to draw the rectangle on.
class CropPresenter final : public ToolSheetPresenter {
public:
    void present(const std::shared_ptr<SheetRequest>& request) const override;
};

// Rotate and flip: the picture, turned as the sheet says.
class RotatePresenter final : public ToolSheetPresenter {
public:
    void present(const std::shared_ptr<SheetRequest>& request) const override;
};

// Resize: the pixel size (a probe for videos) and the size the result would have.
class ResizePresenter final : public ToolSheetPresenter {
public:
    void present(const std::shared_ptr<SheetRequest>& request) const override;
};

// Compress: the file's size and, for media, a probe for the estimate.
class CompressPresenter final : public ToolSheetPresenter {
public:
    void present(const std::shared_ptr<SheetRequest>& request) const override;
};

}  // namespace kolvex
