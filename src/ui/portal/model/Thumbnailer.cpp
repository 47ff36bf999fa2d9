// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/model/Thumbnailer.h"

#include <algorithm>
#include <cmath>

#include <QFile>
#include <QIcon>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

#include "core/modules/EngineModules.h"
#include "core/services/QtFilePaths.h"

namespace kolvex {

namespace {

int pixelSide(QSizeF size, double scale) {
    const double side = std::max(size.width(), size.height()) * (scale > 0 ? scale : 1);
    return std::max(1, static_cast<int>(std::lround(side)));
}

// The file's content type, by its name and first bytes. The file is opened by its own bytes: a
// name that is not UTF-8 does not survive the way through a QString.
QMimeType contentType(const std::filesystem::path& file) {
    QFile device;
    if (qtpaths::open(device, file, QIODevice::ReadOnly)) {
        return QMimeDatabase().mimeTypeForFileNameAndData(QFile::decodeName(QByteArray::fromStdString(file.filename().native())),
                                                          &device);
    }
    return QMimeDatabase().mimeTypeForFile(QString::fromStdString(file.string()));  // a folder, a device
}

// Drawn in code for a type the icon theme does not know (or without any icon theme).
QImage plainDocument(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = side * 0.7, h = side * 0.9;
    const QRectF page((side - w) / 2, (side - h) / 2, w, h);
    const double fold = w * 0.3;
    QPainterPath path;
    path.moveTo(page.topLeft());
    path.lineTo(page.right() - fold, page.top());
    path.lineTo(page.right(), page.top() + fold);
    path.lineTo(page.bottomRight());
    path.lineTo(page.bottomLeft());
    path.closeSubpath();
    p.fillPath(path, QColor(235, 235, 240));
    p.setPen(QPen(QColor(150, 150, 160), std::max(1.0, side / 40.0)));
    p.drawPath(path);
    return image;
}

}  // namespace

QImage Thumbnailer::image(const std::filesystem::path& file, QSizeF size, double scale) {
    QImage found = picture(file, size, scale);
    return found.isNull() ? icon(file, size, scale) : found;
}

QImage Thumbnailer::picture(const std::filesystem::path& file, QSizeF size, double scale) {
    const int side = pixelSide(size, scale);
    const auto wrap = [scale](int width, int height, const std::vector<std::uint8_t>& rgba) {
        QImage picture(rgba.data(), width, height, width * 4, QImage::Format_RGBA8888);
        QImage copy = picture.copy();  // detach from the pixel vector
        copy.setDevicePixelRatio(scale > 0 ? scale : 1);
        return copy;
    };
    // By content type, so that no other file reaches an image loader that might render it.
    const QString type = contentType(file).name();
    if (type == QStringLiteral("application/pdf")) {
        // Drawn by the PDF engine's own renderer: libvips' PDF loader is not trusted here.
        if (auto pixels = EngineModules::pdfThumbnail(file, side)) return wrap(pixels->width, pixels->height, pixels->rgba);
    } else if (type.startsWith(QStringLiteral("image/"))) {
        if (auto pixels = EngineModules::thumbnail(file, side)) return wrap(pixels->width, pixels->height, pixels->rgba);
    } else if (type.startsWith(QStringLiteral("video/"))) {  // its first frame
        if (auto frame = EngineModules::firstFrame(file, side); frame && frame->width > 0 && frame->height > 0) {
            return wrap(frame->width, frame->height, frame->rgba);
        }
    }
    return {};
}

QImage Thumbnailer::icon(const std::filesystem::path& file, QSizeF size, double scale) {
    const int side = pixelSide(size, scale);
    QImage result;
    const QMimeType type = contentType(file);
    QIcon themed = QIcon::fromTheme(type.iconName());
    if (themed.isNull()) themed = QIcon::fromTheme(type.genericIconName());
    if (!themed.isNull()) result = themed.pixmap(QSize(side, side)).toImage();
    if (result.isNull()) result = plainDocument(side);
    if (result.width() != side && result.height() != side) {
        result = result.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    result.setDevicePixelRatio(scale > 0 ? scale : 1);
    return result;
}

}  // namespace kolvex
