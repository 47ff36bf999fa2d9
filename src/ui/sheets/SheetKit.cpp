// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sheets/SheetKit.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeySequence>
#include <QShortcut>
#include <QVBoxLayout>

namespace kolvex::sheetkit {

namespace {

constexpr double kDesignedBodyPoints = 10;

}  // namespace

double points(double designed) {
    const double body = QApplication::font().pointSizeF();
    return body > 0 ? designed * body / kDesignedBodyPoints : designed;
}

QLabel* label(const QString& text, double pointSize, QFont::Weight weight, bool secondaryStyle, bool monospaced) {
    auto* l = new QLabel(text);
    QFont font = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QApplication::font();
    font.setPointSizeF(points(pointSize));
    font.setWeight(weight);
    l->setFont(font);
    if (secondaryStyle) {
        QPalette palette = l->palette();
        palette.setColor(QPalette::WindowText, secondary(l));
        l->setPalette(palette);
    }
    return l;
}

QLabel* title(const QString& text, int width) {
    auto* l = label(text, 14, QFont::DemiBold);
    const QString shown = l->fontMetrics().elidedText(text, Qt::ElideMiddle, width);
    if (shown != text) {
        l->setText(shown);
        l->setToolTip(text);
    }
    return l;
}

QColor accent(const QWidget* widget) {
    return (widget ? widget->palette() : QApplication::palette()).color(QPalette::Highlight);
}

QColor secondary(const QWidget* widget) {
    QColor c = (widget ? widget->palette() : QApplication::palette()).color(QPalette::WindowText);
    c.setAlphaF(0.6f);
    return c;
}

void setTinted(QAbstractButton* button, bool tinted) {
    button->setProperty("kolvexTinted", tinted);
    QPalette palette = QApplication::palette(button);
    if (tinted) {
        palette.setColor(QPalette::Button, accent(button));
        palette.setColor(QPalette::ButtonText, palette.color(QPalette::HighlightedText));
    }
    button->setPalette(palette);
}

bool isTinted(const QAbstractButton* button) {
    return button->property("kolvexTinted").toBool();
}

void bindKeys(QWidget* sheet, QPushButton* cancel, QPushButton* confirm) {
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), sheet);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(escape, &QShortcut::activated, cancel, &QPushButton::click);
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), sheet);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(shortcut, &QShortcut::activated, confirm, [confirm] {
            if (confirm->isEnabled()) confirm->click();
        });
    }
    confirm->setDefault(true);
}

Figure figure(const QString& caption, bool emphasised, bool withDetail) {
    Figure f;
    f.widget = new QWidget;
    auto* column = new QVBoxLayout(f.widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(1);
    column->addWidget(label(caption.toUpper(), 9, QFont::DemiBold, true));
    f.value = label(QString(), 13, QFont::Medium, !emphasised, true);
    column->addWidget(f.value);
    if (withDetail) {
        f.detail = label(QString(), 10, QFont::Normal, true);
        column->addWidget(f.detail);
    }
    return f;
}

QVBoxLayout* column(QWidget* sheet, int minimumWidth, int spacing) {
    sheet->setMinimumWidth(minimumWidth);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(spacing);
    return layout;
}

void header(QVBoxLayout* column, QLabel* title, QLabel* subtitle) {
    auto* header = new QVBoxLayout;
    header->setSpacing(3);
    header->addWidget(title);
    subtitle->setWordWrap(true);
    header->addWidget(subtitle);
    column->addLayout(header);
}

}  // namespace kolvex::sheetkit
