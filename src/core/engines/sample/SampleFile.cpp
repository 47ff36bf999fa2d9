// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/engines/sample/SampleFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include <vips/vips8>

#include "core/engines/image/VipsRuntime.h"
#include "core/format/ConversionError.h"
#include "core/services/StagedOutput.h"

namespace kolvex {

namespace fs = std::filesystem;

SampleFile::Failure::Failure(Kind kind, fs::path url) : m_kind(kind), m_url(std::move(url)) {
    m_what = m_kind == Kind::couldNotDraw ? "couldNotDraw" : "couldNotWrite(" + m_url.string() + ")";
}

SampleFile::Failure SampleFile::Failure::couldNotWrite(fs::path url) { return Failure(Kind::couldNotWrite, std::move(url)); }
SampleFile::Failure SampleFile::Failure::couldNotDraw() { return Failure(Kind::couldNotDraw, {}); }

namespace {

double clamp01(double v) { return v <= 0 ? 0 : (v > 1 ? 1 : v); }

uint8_t toByte(double v) { return static_cast<uint8_t>(std::lround(clamp01(v) * 255.0)); }

// The picture, top row first in memory; the drawing's row y counts from the bottom.
std::vector<uint8_t> drawPixels() {
    const int w = SampleFile::width;
    const int h = SampleFile::height;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        const double t = static_cast<double>(y) / h;
        const uint8_t green = toByte(0.24 + 0.3 * t);
        const double wave = std::sin(14 * t);
        uint8_t* row = pixels.data() + static_cast<size_t>(h - 1 - y) * w * 3;
        for (int x = 0; x < w; x += 3) {
            const double u = static_cast<double>(x) / w;
            const double ripple = wave * std::sin(18 * u) * 0.14;
            const uint8_t red = toByte(0.28 + 0.45 * u + ripple);
            const uint8_t blue = toByte(0.72 - 0.28 * u + 0.6 * ripple);
            for (int dx = 0; dx < 3 && x + dx < w; ++dx) {
                uint8_t* p = row + static_cast<size_t>(x + dx) * 3;
                p[0] = red;
                p[1] = green;
                p[2] = blue;
            }
        }
    }
    return pixels;
}

bool somethingAt(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

void writePNG(const fs::path& target) {
    try {
        image::ensureVipsStarted();
    } catch (const std::exception&) {
        throw SampleFile::Failure::couldNotDraw();
    }
    std::vector<uint8_t> pixels = drawPixels();
    vips::VImage picture;
    try {
        picture = vips::VImage::new_from_memory(pixels.data(), pixels.size(), SampleFile::width, SampleFile::height, 3,
                                                VIPS_FORMAT_UCHAR)
                      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    } catch (const vips::VError&) {
        vips_error_clear();
        throw SampleFile::Failure::couldNotDraw();
    }

    // Staged beside the target and moved into place, so a failed write never leaves a half file
    // that later calls would take for the sample.
    try {
        StagedOutput partial(target);
        picture.pngsave(partial.path().c_str());
        partial.commit(target);
    } catch (const vips::VError&) {
        vips_error_clear();
        throw SampleFile::Failure::couldNotWrite(target);
    } catch (const ConversionError& error) {
        if (error.kind() == ConversionError::Kind::outputNameUnavailable) return;  // someone else wrote it first
        throw SampleFile::Failure::couldNotWrite(target);
    } catch (const std::exception&) {
        throw SampleFile::Failure::couldNotWrite(target);
    }
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::optional<fs::path> SampleFile::downloadsFolder(const std::string& userDirsText, const fs::path& home) {
    return userFolder(userDirsText, "XDG_DOWNLOAD_DIR", home);
}

std::optional<fs::path> SampleFile::userFolder(const std::string& userDirsText, const std::string& name,
                                               const fs::path& home) {
    std::istringstream lines(userDirsText);
    std::string line;
    std::optional<fs::path> found;
    while (std::getline(lines, line)) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        const std::string key = name + "=";
        if (line.compare(start, key.size(), key) != 0) continue;
        std::string value = line.substr(start + key.size());
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.pop_back();
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        value = value.substr(1, value.size() - 2);
        fs::path dir;
        if (value.rfind("$HOME", 0) == 0 && (value.size() == 5 || value[5] == '/')) {
            dir = home / value.substr(std::min<size_t>(value.size(), 6));
        } else if (!value.empty() && value.front() == '/') {
            dir = value;
        } else {
            continue;
        }
        found = dir;  // the last entry wins, as in the XDG tools
    }
    // A folder equal to the home folder means "no such folder".
    if (found && found->lexically_normal() == (home / "").lexically_normal()) return std::nullopt;
    if (found && found->lexically_normal() == home.lexically_normal()) return std::nullopt;
    return found;
}

SampleFile::Places SampleFile::Places::system() {
    Places places;
    const auto homeFolder = []() -> std::optional<fs::path> {
        const char* home = std::getenv("HOME");
        if (!home || *home != '/') return std::nullopt;
        return fs::path(home);
    };
    const auto userDir = [homeFolder](const char* key) {
        return [homeFolder, key]() -> std::optional<fs::path> {
            const auto home = homeFolder();
            if (!home) return std::nullopt;
            const char* config = std::getenv("XDG_CONFIG_HOME");
            const fs::path configDir = (config && *config == '/') ? fs::path(config) : *home / ".config";
            return userFolder(readText(configDir / "user-dirs.dirs"), key, *home);
        };
    };
    places.downloads = userDir("XDG_DOWNLOAD_DIR");
    places.pictures = userDir("XDG_PICTURES_DIR");
    places.home = homeFolder;
    places.isWritable = [](const fs::path& folder) {
        std::error_code ec;
        return fs::is_directory(folder, ec) && ::access(folder.c_str(), W_OK) == 0;
    };
    return places;
}

fs::path SampleFile::create(const std::string& name, const std::optional<fs::path>& folder) {
    return create(name, folder, Places::system());
}

fs::path SampleFile::create(const std::string& name, const std::optional<fs::path>& folder, const Places& places) {
    std::vector<std::optional<fs::path>> candidates{folder};
    for (const auto* place : {&places.downloads, &places.pictures, &places.home})
        candidates.push_back(*place ? (*place)() : std::nullopt);
    std::optional<fs::path> dir;
    for (const auto& candidate : candidates) {
        if (candidate && places.isWritable(*candidate)) {
            dir = candidate;
            break;
        }
    }
    if (!dir) throw Failure::couldNotWrite((folder ? *folder : fs::path()) / name);
    const fs::path target = *dir / name;
    if (somethingAt(target)) return target;  // never drawn twice, never overwritten
    writePNG(target);
    return target;
}

}  // namespace kolvex
