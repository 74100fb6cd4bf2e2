#include "cachedgroupbox.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStylePainter>

#include <cmath>

namespace {

// The brush the window fills beneath the box with, if it is one plain colour
// and nothing else can show through; an invalid colour otherwise.
QColor plainBackgroundBeneath(const QWidget &box)
{
    const QWidget *window = box.parentWidget();
    if (!window || !window->isWindow() || window->testAttribute(Qt::WA_TranslucentBackground) ||
        window->testAttribute(Qt::WA_NoSystemBackground))
        return {};
    const QBrush brush = window->palette().brush(window->backgroundRole());
    if (brush.style() != Qt::SolidPattern || !brush.isOpaque())
        return {};
    return brush.color();
}

} // namespace

bool CachedGroupBox::same(const Source &a, const Source &b)
{
    const QStyleOptionGroupBox &x = a.option;
    const QStyleOptionGroupBox &y = b.option;
    return a.style == b.style && a.font == b.font && a.pen == b.pen &&
           a.background == b.background && a.pixelRatio == b.pixelRatio && x.rect == y.rect &&
           x.state == y.state && x.direction == y.direction &&
           x.palette.cacheKey() == y.palette.cacheKey() &&
           x.palette.currentColorGroup() == y.palette.currentColorGroup() && x.text == y.text &&
           x.textAlignment == y.textAlignment && x.textColor == y.textColor &&
           x.features == y.features && x.lineWidth == y.lineWidth &&
           x.midLineWidth == y.midLineWidth && x.subControls == y.subControls &&
           x.activeSubControls == y.activeSubControls;
}

void CachedGroupBox::paintEvent(QPaintEvent *event)
{
    Source source;
    source.background = plainBackgroundBeneath(*this);
    source.pixelRatio = devicePixelRatio();
    // Copying pixels only matches painting afresh where both land on whole
    // device pixels.
    if (!source.background.isValid() || source.pixelRatio != std::round(source.pixelRatio)) {
        QGroupBox::paintEvent(event);
        return;
    }
    initStyleOption(&source.option);
    source.style = style();
    source.font = font();
    source.pen = palette().brush(foregroundRole());
    if (m_picture.isNull() || !same(source, m_drawnFrom))
        drawPicture(source);
    // The text is measured for the picture's resolution: on a screen whose
    // differs, paint afresh.
    if (m_picture.logicalDpiX() != logicalDpiX() || m_picture.logicalDpiY() != logicalDpiY()) {
        QGroupBox::paintEvent(event);
        return;
    }

    QPainter painter(this);
    for (const QRect &rect : event->region()) {
        painter.drawImage(rect, m_picture,
                          QRectF(QPointF(rect.topLeft()) * source.pixelRatio,
                                 QSizeF(rect.size()) * source.pixelRatio));
    }
}

void CachedGroupBox::drawPicture(const Source &source)
{
    m_drawnFrom = source;
    // Opaque, like the window's backing store, so the text is blended the same way.
    m_picture = QImage(size() * source.pixelRatio, QImage::Format_RGB32);
    m_picture.setDevicePixelRatio(source.pixelRatio);
    m_picture.fill(source.background);

    QStylePainter painter(&m_picture, this);
    // What a painter on the widget itself would start with.
    painter.setPen(QPen(source.pen, 1));
    painter.setBackground(palette().brush(backgroundRole()));
    painter.setFont(source.font);
    painter.setLayoutDirection(layoutDirection());
    painter.drawComplexControl(QStyle::CC_GroupBox, source.option);
}
