// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/Branding.h"

#include <filesystem>

#include <QPainter>
#include <QSvgRenderer>

#include "core/services/ResourceBundle.h"

namespace kolvex {

namespace {
const char* const kBundle = "Kolvex_KolvexUI";
}

std::optional<QImage> Branding::load(const std::string& bundle, const std::string& name) {
    const auto folder = ResourceBundle::named(bundle);
    if (!folder) return std::nullopt;
    const auto png = *folder / (name + ".png");
    if (std::filesystem::is_regular_file(png)) {
        QImage image(QString::fromStdString(png.string()));
        if (!image.isNull()) return image;
    }
    const auto svg = *folder / (name + ".svg");
    if (!std::filesystem::is_regular_file(svg)) return std::nullopt;
    QSvgRenderer renderer(QString::fromStdString(svg.string()));
    if (!renderer.isValid()) return std::nullopt;
    const QSize size = renderer.defaultSize();
    if (size.isEmpty()) return std::nullopt;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

QImage Branding::menuBarForm(const QImage& image) {
    if (image.isNull() || image.height() == 18) return image;
    return image.scaled(image.width(), 18, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

const std::optional<QImage>& Branding::menuBarIcon() {
    static const std::optional<QImage> icon = []() -> std::optional<QImage> {
        auto image = load(kBundle, "MenuBarIcon");
        if (!image) return std::nullopt;
        return menuBarForm(*image);
    }();
    return icon;
}

const std::optional<QImage>& Branding::mark() {
    static const std::optional<QImage> image = load(kBundle, "Mark");
    return image;
}

}  // namespace kolvex
