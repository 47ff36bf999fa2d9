// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QImage>

namespace kolvex {

// The two interface images of the "Kolvex_KolvexUI" resource bundle. Each is made once, on
// first use (safely from any thread), and the same image, or its absence, is returned after.
struct Branding {
    // "MenuBarIcon": a template image (only its alpha counts; the tray tints it), its width
    // kept and its height set to 18.
    static const std::optional<QImage>& menuBarIcon();
    // "Mark": the application's mark, as drawn.
    static const std::optional<QImage>& mark();

    // The image resource `name` of the bundle: "<name>.png", else "<name>.svg" drawn at its own size.
    static std::optional<QImage> load(const std::string& bundle, const std::string& name);
    // The menu-bar form of an image: same width, height 18.
    static QImage menuBarForm(const QImage& image);
};

}  // namespace kolvex
