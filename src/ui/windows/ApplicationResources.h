// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <QIcon>
#include <QImage>

namespace kolvex {

// Files the application's windows show: the branding images of the "Kolvex_KolvexUI" bundle
// and the licence notices installed beside the bundles. Loaded on each call; GUI thread for
// the images (a QGuiApplication must exist for SVG), any thread for the paths.
class ApplicationResources {
public:
    // The folder holding the resource bundles and LICENSES.md (<prefix>/share/kolvex).
    static std::optional<std::filesystem::path> resourceFolder();
    // The branding mark; null when it does not load.
    static QImage mark();
    // The tray icon's template image (18 pixels high); null when it does not load.
    static QImage menuBarIcon();
    // The application icon: "org.kolvex.Kolvex" from the icon theme (installed into hicolor),
    // else the branding mark. GUI thread.
    static QIcon applicationIcon();
    // LICENSES.md when it is there.
    static std::optional<std::filesystem::path> licencesFile();
    // The notices as UTF-8 text; the fallback sentence when the file is missing or not UTF-8.
    static std::string licenceText(const std::optional<std::filesystem::path>& file = licencesFile());

    static constexpr const char* kLicencesPage = "https://kolvex.org/licences";
};

}  // namespace kolvex
