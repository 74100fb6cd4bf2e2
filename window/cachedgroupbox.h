#pragma once

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QGroupBox>
#include <QImage>
#include <QPointer>
#include <QStyleOptionGroupBox>

class QStyle;

// A group box that keeps its picture. The controls drawn over a group box are
// mostly transparent, so each of their repaints (a text cursor blinking, a
// check box ticked) repaints the box beneath as well, and the style measures,
// shapes and draws its title again every time: over half the cost of a
// blink. This box draws itself once, over its window's plain background, and
// then copies from that picture until something it is drawn from changes.
//
// Only for a box that lies straight on a window's solid background with no
// other widget beneath it; elsewhere it paints as a plain QGroupBox.
class CachedGroupBox : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    // What the picture is drawn from: the style option, the style, and what a
    // painter takes from the widget it paints on.
    struct Source {
        QStyleOptionGroupBox option;
        QPointer<QStyle> style;
        QFont font;
        QBrush pen;
        QColor background;
        qreal pixelRatio = 0;
    };
    static bool same(const Source &a, const Source &b);
    void drawPicture(const Source &source);

    QImage m_picture;
    Source m_drawnFrom;
};
