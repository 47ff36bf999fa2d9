// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>
#include <filesystem>

#include <gtest/gtest.h>
#include <vips/vips8>

#include "core/engines/image/VipsRuntime.h"
#include "core/engines/sample/SampleFile.h"
#include "support/TempDir.h"

namespace kolvex {
namespace {

namespace fs = std::filesystem;

// Places inside test folders only: Downloads, Pictures and a home folder, and a list of
// folders that count as not writable (root can write anywhere, so modes cannot be used).
struct TestPlaces {
    testing::TempDir root;
    fs::path home = root / "home";
    fs::path downloads = home / "Downloads";
    fs::path pictures = home / "Pictures";
    bool hasDownloads = true;
    std::vector<fs::path> unwritable;

    TestPlaces() {
        fs::create_directories(downloads);
        fs::create_directories(pictures);
    }

    SampleFile::Places places() const {
        SampleFile::Places p;
        p.downloads = [this]() -> std::optional<fs::path> {
            if (!hasDownloads) return std::nullopt;
            return downloads;
        };
        p.pictures = [this]() -> std::optional<fs::path> { return pictures; };
        p.home = [this]() -> std::optional<fs::path> { return home; };
        p.isWritable = [this](const fs::path& folder) {
            return std::find(unwritable.begin(), unwritable.end(), folder) == unwritable.end() && fs::is_directory(folder);
        };
        return p;
    }
};

std::array<int, 3> pixel(vips::VImage& image, int x, int y) {
    auto values = image.getpoint(x, y);
    return {static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[2])};
}

std::vector<fs::path> entries(const fs::path& folder) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename());
    return out;
}

TEST(SampleFile, DrawsTheGradientIntoDownloads) {
    TestPlaces t;
    const fs::path made = SampleFile::create("Kolvex Example.png", std::nullopt, t.places());
    EXPECT_EQ(made, t.downloads / "Kolvex Example.png");
    EXPECT_EQ(entries(t.downloads), std::vector<fs::path>{"Kolvex Example.png"});  // no temporary left over

    image::ensureVipsStarted();
    auto picture = vips::VImage::new_from_file(made.c_str(), vips::VImage::option()->set("access", VIPS_ACCESS_RANDOM));
    EXPECT_EQ(picture.width(), 1200);
    EXPECT_EQ(picture.height(), 800);
    EXPECT_EQ(picture.bands(), 3);  // opaque: no alpha
    EXPECT_EQ(picture.format(), VIPS_FORMAT_UCHAR);

    // Bottom-left is about (0.28, 0.24, 0.72).
    auto bottomLeft = pixel(picture, 0, 799);
    EXPECT_NEAR(bottomLeft[0], 71, 1);
    EXPECT_NEAR(bottomLeft[1], 61, 1);
    EXPECT_NEAR(bottomLeft[2], 184, 1);
    // Greener at the top; redder and less blue at the right.
    EXPECT_GT(pixel(picture, 0, 0)[1], bottomLeft[1] + 60);
    auto bottomRight = pixel(picture, 1199, 799);
    EXPECT_GT(bottomRight[0], bottomLeft[0] + 80);
    EXPECT_LT(bottomRight[2], bottomLeft[2] - 50);
    // Three-pixel strips share one colour.
    EXPECT_EQ(pixel(picture, 300, 400), pixel(picture, 302, 400));
}

TEST(SampleFile, ReusesWhateverIsAlreadyThere) {
    TestPlaces t;
    const fs::path existing = t.downloads / "Kolvex Example.png";
    t.root.write("home/Downloads/Kolvex Example.png", "not a picture");
    EXPECT_EQ(SampleFile::create("Kolvex Example.png", std::nullopt, t.places()), existing);
    EXPECT_EQ(testing::readFile(existing), "not a picture");
}

TEST(SampleFile, ChoosesAnotherPlaceWhenNeeded) {
    {
        TestPlaces t;  // a given folder wins over Downloads
        const fs::path chosen = t.root / "chosen";
        fs::create_directories(chosen);
        EXPECT_EQ(SampleFile::create("s.png", chosen, t.places()), chosen / "s.png");
        EXPECT_TRUE(fs::is_regular_file(chosen / "s.png"));
    }
    {
        TestPlaces t;  // an unwritable Downloads folder: Pictures, then home; never a shared temporary folder
        t.unwritable.push_back(t.downloads);
        EXPECT_EQ(SampleFile::create("s.png", std::nullopt, t.places()), t.pictures / "s.png");
        EXPECT_TRUE(fs::is_regular_file(t.pictures / "s.png"));
        EXPECT_TRUE(entries(t.downloads).empty());
        t.unwritable.push_back(t.pictures);
        EXPECT_EQ(SampleFile::create("s.png", std::nullopt, t.places()), t.home / "s.png");
        t.unwritable.push_back(t.home);
        EXPECT_THROW(SampleFile::create("t.png", std::nullopt, t.places()), SampleFile::Failure);
    }
    {
        TestPlaces t;  // no Downloads folder at all
        t.hasDownloads = false;
        EXPECT_EQ(SampleFile::create("s.png", std::nullopt, t.places()), t.pictures / "s.png");
    }
}

TEST(SampleFile, AFailedWriteLeavesNothingBehind) {
    TestPlaces t;
    auto places = t.places();
    places.isWritable = [](const fs::path&) { return true; };  // claims writable, but is missing
    const fs::path missing = t.root / "missing";
    try {
        SampleFile::create("s.png", missing, places);
        ADD_FAILURE() << "wrote into a missing folder";
    } catch (const SampleFile::Failure& failure) {
        EXPECT_EQ(failure.kind(), SampleFile::Failure::Kind::couldNotWrite);
        EXPECT_EQ(failure.url(), missing / "s.png");
    }
    EXPECT_FALSE(fs::exists(missing));
    // A later call in a good place still works: nothing half-written is taken for the sample.
    EXPECT_NO_THROW(SampleFile::create("s.png", t.pictures, places));
    EXPECT_EQ(entries(t.pictures), std::vector<fs::path>{"s.png"});
}

TEST(SampleFile, ReadsTheDownloadsFolderFromXdgUserDirs) {
    const fs::path home = "/home/ann";
    const std::pair<const char*, std::optional<fs::path>> rows[] = {
        {"XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", fs::path("/home/ann/Downloads")},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOWNLOAD_DIR=\"$HOME/Téléchargements\"\n",
         fs::path("/home/ann/Téléchargements")},
        {"XDG_DOWNLOAD_DIR=\"/data/incoming\"\n", fs::path("/data/incoming")},
        {"XDG_DOWNLOAD_DIR=\"$HOME/\"\n", std::nullopt},  // the home folder itself: disabled
        {"XDG_DOWNLOAD_DIR=\"$HOME\"\n", std::nullopt},
        {"XDG_DOWNLOAD_DIR=relative/path\n", std::nullopt},
        {"#XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(SampleFile::downloadsFolder(text, home), expected) << text;
    EXPECT_EQ(SampleFile::userFolder("XDG_DOWNLOAD_DIR=\"$HOME/D\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n",
                                     "XDG_PICTURES_DIR", home),
              fs::path("/home/ann/Bilder"));
}

}  // namespace
}  // namespace kolvex
