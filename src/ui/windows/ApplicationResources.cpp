// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/windows/ApplicationResources.h"

#include <fstream>
#include <iterator>

#include <QPixmap>
#include <QString>
#include <QStringDecoder>

#include "core/BuildInfo.h"
#include "core/services/ResourceBundle.h"
#include "ui/portal/Branding.h"

namespace kolvex {

namespace fs = std::filesystem;

std::optional<fs::path> ApplicationResources::resourceFolder() {
    // The folder of the core bundle is where the build and the install lay out the rest.
    if (auto core = ResourceBundle::named("Kolvex_KolvexCore")) return core->parent_path();
    return std::nullopt;
}

QImage ApplicationResources::mark() {
    return Branding::mark().value_or(QImage());
}

QImage ApplicationResources::menuBarIcon() {
    return Branding::menuBarIcon().value_or(QImage());
}

QIcon ApplicationResources::applicationIcon() {
    const QImage fallback = mark();
    return QIcon::fromTheme(buildinfo::kBundleIdentifier,
                            fallback.isNull() ? QIcon() : QIcon(QPixmap::fromImage(fallback)));
}

std::optional<fs::path> ApplicationResources::licencesFile() {
    const auto folder = resourceFolder();
    if (!folder) return std::nullopt;
    const fs::path file = *folder / "LICENSES.md";
    std::error_code error;
    if (!fs::is_regular_file(file, error)) return std::nullopt;
    return file;
}

std::string ApplicationResources::licenceText(const std::optional<fs::path>& file) {
    const std::string fallback =
        std::string("The full open-source licence notices could not be loaded from this copy of Kolvex. They are "
                    "published at ") +
        kLicencesPage + " and in LICENSES.md in the source repository.";
    if (!file) return fallback;
    std::ifstream in(*file, std::ios::binary);
    if (!in) return fallback;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError()) return fallback;
    return text.toStdString();
}

}  // namespace kolvex
