// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "ui/anim/AnimatedValue.h"
#include "ui/portal/ChipImages.h"
#include "ui/portal/FailureText.h"
#include "ui/portal/SwirlRing.h"
#include "ui/portal/model/PortalModel.h"

#include <QPlainTextEdit>

namespace kolvex {

// The round Portal drawn with QPainter: a halo, the ring of chips, the aperture with its
// turning gradient ring and direction needle, the centre for the phase, the result bubble,
// the hints and the type-to-search list. Every decision it shows comes from the model; it
// keeps only its animations. The drop view beneath it receives the drags. GUI thread.
class PortalView : public QWidget {
    Q_OBJECT

public:
    PortalView(PortalModel& model, QWidget* parent = nullptr,
               std::shared_ptr<AnimationClock> clock = AnimationClock::steady(),
               std::function<bool()> reduceMotion = {});

    // --- The geometry of the drawing (view coordinates about the centre, y down) ---
    struct WholeTransform {
        double scale = 1;
        double rotationDegrees = 0;  // clockwise
        double opacity = 1;
    };
    // `revealed` 0…1 (1 shown), `collapse` 0…1.
    static WholeTransform wholeTransform(double revealed, double collapse, bool reduceMotion);
    // Chip `index` of the ring: straight up for 0, then clockwise.
    static QPointF chipOffset(const RingLayout& layout, int index);
    // The needle's turn from straight up, clockwise, in radians.
    static double needleAngle(int index, int count);
    // Where the result bubble stands: opposite the committed chip, or on the centre under Reduce Motion.
    static QPointF bubbleOffset(double commitAngle, bool reduceMotion);
    // "42%" for 0.427.
    static QString percentText(double progress);
    // How the model's failure is drawn in the centre (`font` for the message, `buttonFont` for
    // "Show details").
    static FailureText failureText(const PortalModel& model, const QFont& font, const QFont& buttonFont);
    // The failure shown offers its details: they say more than the centre does.
    bool offersDetails() const;
    // The hint under the file node, or nothing.
    struct Hint {
        QString headline;
        QString detail;
        enum class Kind { none, keyboard, nothingToOffer, modePrompt } kind = Kind::none;
    };
    static Hint modeHint(const PortalModel& model);
    static constexpr const char* kKeyboardHint = "← →  choose      ⏎  convert      ⇥  tools";
    // Where the keyboard hint stands: below the ring, clear of every chip.
    static QRectF keyboardHintRect(const RingLayout& layout, const std::vector<RingTarget>& targets);
    // The lines the nothing-to-offer detail is wrapped into (at most kNothingWidth wide).
    static constexpr double kNothingWidth = 200;
    static QStringList nothingDetailLines(const QString& detail);
    // What assistive technology is told the Portal shows: "Created <name>" after a success,
    // "Convert to" while the search list is open, else the selected chip's label.
    static QString accessibleText(const PortalModel& model);

    // Without a compositor: an opaque disc in the Portal's own colours with an anti-aliased
    // rim, drawn inside the window's one-bit round shape.
    void setOpaque(bool opaque);
    bool isOpaque() const { return m_opaque; }
    static QColor opaqueDiscColor();

    PortalModel& model() const { return m_model; }
    // The frame drawn shape by shape straight onto `p`, with nothing kept between frames: what
    // the view's cached layers must look like.
    void paintDirectly(QPainter& p);
    // Something still moves, so the view draws frames.
    bool needsFrames() const { return anyAnimating(); }
    // Chip `index` of the ring as drawn at full size, in the view's coordinates (empty beyond
    // the ring).
    QRectF chipRect(int index) const;

    // Where the buttons were last drawn (empty when not shown); for clicks and tests.
    QRectF cancelButtonRect() const { return m_cancelRect; }
    QRectF detailsButtonRect() const { return m_detailsRect; }
    QPlainTextEdit* detailView() const { return m_detailView; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // One layer of the drawing, painted into an image only when what it shows changed.
    struct Layer {
        QImage image;             // only the part that is not transparent
        QRect bounds;             // where that part lies in the view, in device pixels
        QSize full;               // the view's size in device pixels it was painted at
        std::vector<double> key;  // what it was painted for
    };

    void onChanged(PortalModel::Field field);
    void syncChips(const Animation& animation);
    void startFrames();
    void nextFrame();
    bool reduce() const;
    bool anyAnimating() const;
    // Something other than the aperture's ring turning moves.
    bool anyAnimatingButSwirl() const;
    QPointF centre() const;
    // The rectangle the turning ring covers as drawn now (the whole view while it is scaled).
    QRect swirlRect() const;
    void applyTheme();

    // Brings each layer up to date and composes them; the live parts (the turning ring and
    // the needle) are drawn over them.
    void updateLayers(double devicePixelRatio);
    void paintLayer(Layer& layer, std::vector<double> key, double devicePixelRatio,
                    const std::function<void(QPainter&)>& paint);
    void composeInto(QPainter& p, double devicePixelRatio);
    static void drawLayer(QPainter& p, const Layer& layer);
    void paintNeedle(QPainter& p);
    void releaseLayers();

    void paintOpaqueDisc(QPainter& p);
    void paintHalo(QPainter& p);
    void paintRing(QPainter& p);
    // The same chips from their images, for the layered frame.
    void paintChips(QPainter& p, double devicePixelRatio);
    void paintAperture(QPainter& p);
    void paintCentre(QPainter& p);
    void paintBubble(QPainter& p);
    void paintHint(QPainter& p, QPointF nodeCentre);
    void paintFormatList(QPainter& p);
    void placeDetailView();

    PortalModel& m_model;
    std::shared_ptr<AnimationClock> m_clock;
    std::function<bool()> m_reduceMotion;
    AnimatedValue m_revealed;
    AnimatedValue m_collapse;
    AnimatedValue m_swirl;
    AnimatedValue m_ringOpacity;
    AnimatedValue m_needle;
    AnimatedValue m_leanX;
    AnimatedValue m_leanY;
    AnimatedValue m_centreFade;
    std::map<std::string, AnimatedValue> m_chipArrival;  // by target id
    std::vector<AnimatedValue> m_chipSelection;          // by ring index
    QRectF m_cancelRect;
    QRectF m_detailsRect;
    // The buttons as the centre layer drew them, about the centre before the whole transform.
    QRectF m_centreCancel;
    QRectF m_centreDetails;
    // The unchanging layers stay while the Portal is hidden; the halo has one for a ring with
    // a chosen chip and one without.
    Layer m_opaqueLayer;
    Layer m_halo[2];
    Layer m_aperture;
    Layer m_centre;
    QImage m_scratch;  // where a layer is painted before it is cut to its pixels
    QImage m_flat;  // the layers composed, for frames drawn scaled or turned
    SwirlRing m_ring;
    ChipImages m_chipImages;
    double m_generation = 0;  // counts the model's changes: the centre is painted again on each
    double m_drawnTheme = -1;  // PortalStyle::themeKey() the detail view was styled for
    QPointer<QPlainTextEdit> m_detailView;
    QTimer m_frames;
    bool m_opaque = false;
};

}  // namespace kolvex
