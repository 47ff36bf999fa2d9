// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <string>

#include <QImage>
#include <QPointF>

#include "core/format/RingTarget.h"

class QPainter;

namespace kolvex {

// The ring's chips, each painted once into a small image and laid onto the ring from there. A
// chip is painted again only when its look changes (selection, theme, accent) or, at rest, the
// fraction of a device pixel it sits at: a chip on the move is placed at whole pixels, one at
// rest exactly where its shapes would be. Painting the chips' rounded shapes every frame sends
// each fill through Qt's thread pool. GUI thread.
class ChipImages {
public:
    // Paints the chip of `target` centred on `centre` with the painter's opacity. `p` has no
    // transform beyond translation and scale.
    void paint(QPainter& p, QPointF centre, const RingTarget& target, double selected, bool atRest,
               double devicePixelRatio);
    void clear() { m_chips.clear(); }

private:
    struct Chip {
        QImage image;
        QPointF middle;  // the chip's centre in the image, in device pixels
        std::string label;
        double selected = -1;
        QPointF fraction{-1, -1};
        double devicePixelRatio = 0;
        double theme = -1;  // PortalStyle::themeKey()
    };
    std::map<std::string, Chip> m_chips;  // by target id
};

}  // namespace kolvex
