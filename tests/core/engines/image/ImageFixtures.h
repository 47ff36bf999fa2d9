// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <vips/vips8>

#include "core/format/ConversionJob.h"

namespace kolvex::testing {

// Image formats as a manifest would describe them.
Format imageFormat(const std::string& id);

// A job from `source` to `destination` with the formats named by id.
ConversionJob imageJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                       const std::string& from, const std::string& to, ConversionOptions options = {});

// A width × height picture whose four quadrants have distinct colours (top-left red, top-right
// green, bottom-left blue, bottom-right yellow), with an alpha band when asked.
vips::VImage quadrants(int width, int height, bool alpha = false);

// Metadata written into fixtures so tests can see whether it survived.
inline constexpr const char* kCameraMake = "KolvexTestCam";
inline constexpr const char* kXmpPacket = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><kolvex-test/></x:xmpmeta>";

// Adds an EXIF camera make, an XMP packet and, when given, an EXIF orientation tag.
vips::VImage withMetadata(const vips::VImage& image, std::optional<int> orientation = std::nullopt);

// Saves with the saver named (e.g. "jpegsave") and extra options; the sRGB profile is attached
// when `profile` is set.
void save(const vips::VImage& image, const std::filesystem::path& file, const std::string& saver,
          bool profile = false);

// Reads a file back (first page) with libvips; fails the test when it cannot be read.
vips::VImage reload(const std::filesystem::path& file);

// The pixel at (x, y) as a list of band values.
std::vector<double> pixel(const vips::VImage& image, int x, int y);

bool hasField(const vips::VImage& image, const char* name);

// One header field of a file as the vipsheader program prints it ("" when it has none or
// the program fails): the reader that is not the engine's own.
std::string headerField(const std::filesystem::path& file, const std::string& field);

// Saves an animation: `frames` (all the same size) stacked, with per-frame delays in ms and
// the loop count, through the saver named ("gifsave", "webpsave").
void saveAnimation(const std::vector<vips::VImage>& frames, const std::vector<int>& delays, int loop,
                   const std::filesystem::path& file, const std::string& saver);

}  // namespace kolvex::testing
