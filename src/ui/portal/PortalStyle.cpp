// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/portal/PortalStyle.h"

#include <functional>
#include <utility>
#include <vector>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QTextLayout>
#include <QPalette>
#include <QPointer>

namespace kolvex {

namespace {

PortalStyle::Theme g_theme = PortalStyle::Theme::dark;  // GUI thread only

std::vector<std::pair<QPointer<QObject>, std::function<void()>>>& themeWatchers() {
    static std::vector<std::pair<QPointer<QObject>, std::function<void()>>> watchers;  // GUI thread only
    return watchers;
}

bool isLight(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Window).lightness() >= 128; }

}  // namespace

PortalStyle::Theme PortalStyle::theme() { return g_theme; }

void PortalStyle::setTheme(Theme theme) {
    if (theme == g_theme) return;
    g_theme = theme;
    auto& watchers = themeWatchers();
    std::erase_if(watchers, [](const auto& watcher) { return watcher.first.isNull(); });
    // A copy: a reaction may add a watcher.
    const auto live = watchers;
    for (const auto& [context, react] : live) {
        if (context) react();
    }
}

void PortalStyle::whenThemeChanges(QObject* context, std::function<void()> react) {
    themeWatchers().emplace_back(context, std::move(react));
}

double PortalStyle::themeKey() {
    // 33 bits: exact in a double.
    const double theme = g_theme == Theme::dark ? 0 : 1;
    return theme * 4294967296.0 + static_cast<double>(accent().rgba());
}

PortalStyle::Theme PortalStyle::themeFor(Preferences::Appearance appearance, const QPalette& system,
                                         const QPalette& standard) {
    switch (appearance) {
    case Preferences::Appearance::light: return Theme::light;
    case Preferences::Appearance::dark: return Theme::dark;
    case Preferences::Appearance::system: break;
    }
    // A desktop without a palette of its own leaves Qt's light default, which says nothing
    // about the user's taste: the Portal keeps its own dark look then.
    const bool saysSomething =
        system.color(QPalette::Active, QPalette::Window) != standard.color(QPalette::Active, QPalette::Window);
    return saysSomething && isLight(system) ? Theme::light : Theme::dark;
}

QColor PortalStyle::ink(double opacity) {
    const auto a = static_cast<float>(opacity);
    return g_theme == Theme::dark ? QColor::fromRgbF(1, 1, 1, a) : QColor::fromRgbF(0.11f, 0.11f, 0.12f, a);
}

QColor PortalStyle::shade(double opacity) {
    const auto a = static_cast<float>(opacity);
    return g_theme == Theme::dark ? QColor::fromRgbF(0, 0, 0, a) : QColor::fromRgbF(1, 1, 1, a);
}

QColor PortalStyle::material() { return g_theme == Theme::dark ? QColor(38, 38, 44, 190) : QColor(242, 242, 246, 200); }

QColor PortalStyle::opaqueDisc() { return g_theme == Theme::dark ? QColor(30, 30, 35) : QColor(236, 236, 240); }

QColor PortalStyle::accent(double opacity) {
    QColor c = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
    c.setAlphaF(static_cast<float>(opacity));
    return c;
}

QFont PortalStyle::font(double pointSize, QFont::Weight weight, bool monospaced) {
    QFont f = monospaced ? QFont(QStringLiteral("monospace")) : QGuiApplication::font();
    if (monospaced) f.setStyleHint(QFont::Monospace);
    // Points of the design are the interface's logical pixels.
    f.setPixelSize(std::max(1, static_cast<int>(pointSize + 0.5)));
    f.setWeight(weight);
    return f;
}

QStringList PortalStyle::wrappedLines(const QString& text, const QFont& font, double width) {
    QTextLayout layout(text, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

QPainterPath PortalStyle::symbol(Symbol symbol, double size) {
    const double h = size / 2;
    QPainterPath path;
    switch (symbol) {
    case Symbol::checkmark:
        path.moveTo(-h * 0.8, 0);
        path.lineTo(-h * 0.2, h * 0.6);
        path.lineTo(h * 0.85, -h * 0.65);
        break;
    case Symbol::xmark:
        path.moveTo(-h * 0.6, -h * 0.6);
        path.lineTo(h * 0.6, h * 0.6);
        path.moveTo(h * 0.6, -h * 0.6);
        path.lineTo(-h * 0.6, h * 0.6);
        break;
    case Symbol::crop:
        path.moveTo(-h * 0.5, -h * 0.9);
        path.lineTo(-h * 0.5, h * 0.5);
        path.lineTo(h * 0.9, h * 0.5);
        path.moveTo(-h * 0.9, -h * 0.5);
        path.lineTo(h * 0.5, -h * 0.5);
        path.lineTo(h * 0.5, h * 0.9);
        break;
    case Symbol::scissors:
        path.addEllipse(QPointF(-h * 0.55, h * 0.55), h * 0.3, h * 0.3);
        path.addEllipse(QPointF(h * 0.55, h * 0.55), h * 0.3, h * 0.3);
        path.moveTo(-h * 0.35, h * 0.3);
        path.lineTo(h * 0.5, -h * 0.9);
        path.moveTo(h * 0.35, h * 0.3);
        path.lineTo(-h * 0.5, -h * 0.9);
        break;
    case Symbol::magnifier:
        path.addEllipse(QPointF(-h * 0.15, -h * 0.15), h * 0.55, h * 0.55);
        path.moveTo(h * 0.25, h * 0.25);
        path.lineTo(h * 0.8, h * 0.8);
        break;
    }
    return path;
}

// Draws `text` centred on (0, y) within `width`, wrapping; returns its height.
double PortalStyle::drawWrapped(QPainter& p, const QString& text, double y, double width, const QFont& font, const QColor& color) {
    const QFontMetricsF metrics(font);
    const QRectF bounds = metrics.boundingRect(QRectF(-width / 2, y, width, 1000), Qt::AlignHCenter | Qt::TextWordWrap,
                                               text);
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(-width / 2, y, width, bounds.height()), Qt::AlignHCenter | Qt::TextWordWrap, text);
    return bounds.height();
}

void PortalStyle::drawLine(QPainter& p, const QString& text, double y, const QFont& font, const QColor& color, double maxWidth) {
    const QFontMetricsF metrics(font);
    const QString shown = maxWidth > 0 ? metrics.elidedText(text, Qt::ElideMiddle, maxWidth) : text;
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(-300, y, 600, metrics.height()), Qt::AlignHCenter | Qt::AlignTop, shown);
}

void PortalStyle::strokeSymbol(QPainter& p, Symbol symbol, QPointF at, double size, double width, const QColor& color) {
    p.save();
    p.translate(at);
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(PortalStyle::symbol(symbol, size));
    p.restore();
}

}  // namespace kolvex
