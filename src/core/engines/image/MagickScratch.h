// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kolvex::image {

// ImageMagick, which libvips runs inside this process for the formats it has no coder of its own
// for (BMP, ICO), keeps its pixel cache and the files it encodes through in a temporary folder
// that only the environment names; a run killed meanwhile would leave them in $TMPDIR for good.
// While any job that uses ImageMagick lives, that folder is a scratch folder of ours, recorded as
// work in progress, so what a kill leaves is removed by the next launch's sweep, and what a job
// ends with is removed when the last such job ends. Hold one for the whole job, declared before
// any picture of it. Any thread.
class MagickScratch {
public:
    MagickScratch();
    ~MagickScratch();
    MagickScratch(const MagickScratch&) = delete;
    MagickScratch& operator=(const MagickScratch&) = delete;
};

}  // namespace kolvex::image
