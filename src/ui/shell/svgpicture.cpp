#include "ui/shell/svgpicture.h"

#include <QPainter>
#include <QSvgRenderer>

namespace corvane {

SvgPicture::SvgPicture(const QString &resource, Qt::Alignment anchor, QWidget *parent)
    : QWidget(parent), m_renderer(new QSvgRenderer(resource, this)), m_anchor(anchor) {
    setAttribute(Qt::WA_OpaquePaintEvent, isValid());
}

bool SvgPicture::isValid() const {
    return m_renderer->isValid();
}

QSize SvgPicture::drawingSize() const {
    return isValid() ? m_renderer->defaultSize() : QSize();
}

void SvgPicture::paintEvent(QPaintEvent *) {
    if (!isValid())
        return;
    const QSizeF drawing = m_renderer->viewBoxF().size();
    if (drawing.isEmpty())
        return;
    // The smallest size of the drawing's proportions that covers the widget.
    const QSizeF target = drawing.scaled(QSizeF(size()), Qt::KeepAspectRatioByExpanding);
    qreal x = 0, y = 0;
    if (m_anchor & Qt::AlignRight)
        x = width() - target.width();
    else if (m_anchor & Qt::AlignHCenter)
        x = (width() - target.width()) / 2;
    if (m_anchor & Qt::AlignBottom)
        y = height() - target.height();
    else if (m_anchor & Qt::AlignVCenter)
        y = (height() - target.height()) / 2;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(rect());
    m_renderer->render(&painter, QRectF(QPointF(x, y), target));
}

} // namespace corvane
