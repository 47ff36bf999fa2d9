// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QPaintDevice>
#include <QPointF>
#include <QString>
#include <QStringList>

namespace kolvex {

// One run of glyphs drawn: the characters it was shaped from, in logical order, and whether it
// was laid out right to left (its glyphs then run from right to left on the page).
struct DrawnItem {
    QString text;
    bool rightToLeft = false;
    QPointF origin;   // where its baseline starts on the page, in points from the top left
    double size = 0;  // its font's size in points (0: not known)
};


// The text of each item Qt's text drawing hands a paint engine, in drawing order, page by page:
// one item is a run of glyphs of one font, and its text is the characters those glyphs were
// shaped from. Drawing the same page onto this device and onto a PDF writer gives the items in
// the order the writer shows them. One thread at a time.
class DrawnTextRecorder : public QPaintDevice {
public:
    // What an item's characters were written as, given the item's text and its font's families.
    using Spelling = std::function<QString(const QString& text, const QStringList& families)>;

    // Takes its size and resolution from `like` (the device the text was laid out for).
    explicit DrawnTextRecorder(const QPaintDevice& like, Spelling spelling = {});
    ~DrawnTextRecorder() override;

    // Items drawn from now on belong to a new page.
    void startPage();
    // Every page's items.
    const std::vector<std::vector<DrawnItem>>& pages() const { return m_pages; }

    QPaintEngine* paintEngine() const override;

protected:
    int metric(PaintDeviceMetric metric) const override;

private:
    class Engine;
    std::unique_ptr<Engine> m_engine;
    Spelling m_spelling;
    std::vector<std::vector<DrawnItem>> m_pages;
    int m_metrics[PdmDevicePixelRatioScaled + 1] = {};
};

}  // namespace kolvex
