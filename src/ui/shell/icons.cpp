#include "ui/shell/icons.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

#include <functional>

namespace corvane {
namespace {

// Draws a picture into a square of side `side` logical units placed at the origin.
using Drawing = std::function<void(QPainter &p)>;

class DrawnIconEngine final : public QIconEngine {
public:
    DrawnIconEngine(Drawing drawing, qreal gridSize)
        : m_drawing(std::move(drawing)), m_grid(gridSize) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size() * ratio, mode, state, ratio));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        const QSize pixels = size; // already in device pixels
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            const qreal side = qMin(pixels.width(), pixels.height());
            p.translate((pixels.width() - side) / 2.0, (pixels.height() - side) / 2.0);
            p.scale(side / m_grid, side / m_grid);
            m_drawing(p);
        }
        if (mode == QIcon::Disabled)
            image = greyed(image);
        QPixmap result = QPixmap::fromImage(image);
        result.setDevicePixelRatio(scale);
        return result;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine *clone() const override { return new DrawnIconEngine(m_drawing, m_grid); }

private:
    static QImage greyed(const QImage &source) {
        QImage image = source.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int grey = 96 + qGray(line[x]) / 2;
                line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 2 / 5);
            }
        }
        return image;
    }

    Drawing m_drawing;
    qreal m_grid;
};

QIcon drawn(Drawing drawing, qreal grid) {
    return QIcon(new DrawnIconEngine(std::move(drawing), grid));
}

QPen pen(const QColor &colour, qreal width) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// An envelope inside the rectangle.
void envelope(QPainter &p, const QRectF &r, const QColor &paper, const QColor &line) {
    p.setPen(pen(line, r.height() * 0.11));
    p.setBrush(paper);
    p.drawRoundedRect(r, r.height() * 0.14, r.height() * 0.14);
    QPainterPath flap;
    flap.moveTo(r.left() + r.width() * 0.06, r.top() + r.height() * 0.12);
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.58);
    flap.lineTo(r.right() - r.width() * 0.06, r.top() + r.height() * 0.12);
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

// A round badge at the lower right, with a white ring that separates it from what is under it.
void badge(QPainter &p, const QPointF &centre, qreal radius, const QColor &fill) {
    p.setPen(pen(Qt::white, radius * 0.3));
    p.setBrush(fill);
    p.drawEllipse(centre, radius, radius);
}

const QColor kPaper(0xF7, 0xF9, 0xFB);
const QColor kInk(0x4A, 0x57, 0x63);
const QColor kBlue(0x2F, 0x6F, 0xC8);
const QColor kGreen(0x2E, 0x9E, 0x4F);
const QColor kRed(0xD1, 0x3B, 0x30);
const QColor kOrange(0xE8, 0x8A, 0x1A);
const QColor kYellow(0xF6, 0xC3, 0x2B);
const QColor kYellowInk(0x9A, 0x6B, 0x00);

// A red badge with a white cross.
void crossBadge(QPainter &p, const QPointF &c, qreal radius) {
    badge(p, c, radius, kRed);
    const qreal arm = radius * 0.36;
    p.setPen(pen(Qt::white, radius * 0.32));
    p.drawLine(c + QPointF(-arm, -arm), c + QPointF(arm, arm));
    p.drawLine(c + QPointF(-arm, arm), c + QPointF(arm, -arm));
}

// Mark pictures, drawn on a 16-unit grid.
void drawMark(QPainter &p, RowMark mark) {
    const QRectF body(1.0, 2.5, 13.0, 9.5);
    switch (mark) {
    case RowMark::Plain:
        envelope(p, QRectF(1.5, 3.0, 13.0, 10.0), kPaper, kInk);
        return;
    case RowMark::Friendly: {
        envelope(p, body, kPaper, kInk);
        const QPointF c(11.4, 11.4);
        badge(p, c, 4.4, kGreen);
        p.setPen(pen(Qt::white, 1.3));
        p.drawPolyline(
            QPolygonF({c + QPointF(-1.9, 0.1), c + QPointF(-0.5, 1.5), c + QPointF(1.9, -1.3)}));
        return;
    }
    case RowMark::Spam: {
        envelope(p, body, QColor(0xFD, 0xEC, 0xEA), kRed);
        const QPointF c(11.4, 11.4);
        badge(p, c, 4.4, kRed);
        p.setPen(pen(Qt::white, 1.4));
        p.drawLine(c + QPointF(0, -2.0), c + QPointF(0, 0.5));
        p.drawPoint(c + QPointF(0, 2.0));
        return;
    }
    case RowMark::Delete: {
        envelope(p, body, kPaper, kInk);
        const QPointF c(11.4, 11.4);
        badge(p, c, 4.4, kRed);
        p.setPen(pen(Qt::white, 1.3));
        p.drawLine(c + QPointF(-1.5, -1.5), c + QPointF(1.5, 1.5));
        p.drawLine(c + QPointF(-1.5, 1.5), c + QPointF(1.5, -1.5));
        return;
    }
    case RowMark::Bounce: {
        envelope(p, body, kPaper, kInk);
        const QPointF c(11.4, 11.4);
        badge(p, c, 4.4, kOrange);
        p.setPen(pen(Qt::white, 1.2));
        QPainterPath arrow;
        arrow.moveTo(c + QPointF(1.8, 1.6));
        arrow.lineTo(c + QPointF(1.8, 0.2));
        arrow.quadTo(c + QPointF(1.8, -1.2), c + QPointF(0.2, -1.2));
        arrow.lineTo(c + QPointF(-1.8, -1.2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(arrow);
        p.drawPolyline(
            QPolygonF({c + QPointF(-0.6, -2.4), c + QPointF(-1.9, -1.2), c + QPointF(-0.6, 0.0)}));
        return;
    }
    }
}

// Tool pictures, drawn on a 24-unit grid.
void drawTool(QPainter &p, ToolIcon which) {
    switch (which) {
    case ToolIcon::Check: {
        envelope(p, QRectF(2.0, 4.5, 17.0, 12.5), kPaper, kInk);
        const QPointF c(17.0, 17.0);
        badge(p, c, 5.6, kBlue);
        p.setPen(pen(Qt::white, 1.8));
        p.drawLine(c + QPointF(0, -2.8), c + QPointF(0, 2.4));
        p.drawPolyline(
            QPolygonF({c + QPointF(-2.4, 0.2), c + QPointF(0, 2.6), c + QPointF(2.4, 0.2)}));
        return;
    }
    case ToolIcon::Process: {
        // A gear: twelve teeth around a ring.
        const QPointF c(12.0, 12.0);
        QPainterPath gear;
        const int teeth = 8;
        for (int i = 0; i < teeth * 2; ++i) {
            const qreal a0 = (i * M_PI) / teeth - M_PI / (teeth * 2.6);
            const qreal a1 = (i * M_PI) / teeth + M_PI / (teeth * 2.6);
            const qreal r = (i % 2 == 0) ? 10.0 : 7.6;
            const QPointF p0 = c + QPointF(r * qCos(a0), r * qSin(a0));
            const QPointF p1 = c + QPointF(r * qCos(a1), r * qSin(a1));
            if (i == 0)
                gear.moveTo(p0);
            else
                gear.lineTo(p0);
            gear.lineTo(p1);
        }
        gear.closeSubpath();
        QPainterPath hole;
        hole.addEllipse(c, 3.2, 3.2);
        p.setPen(pen(QColor(0x1F, 0x6E, 0x38), 1.2));
        p.setBrush(kGreen);
        p.drawPath(gear.subtracted(hole));
        return;
    }
    case ToolIcon::Disconnect: {
        // A plug pulled out of its socket.
        p.setPen(pen(kInk, 1.6));
        p.setBrush(QColor(0xC9, 0xD1, 0xD9));
        p.drawRoundedRect(QRectF(3.0, 8.0, 7.0, 8.0), 1.5, 1.5);
        p.drawLine(QPointF(10.0, 10.5), QPointF(12.0, 10.5));
        p.drawLine(QPointF(10.0, 13.5), QPointF(12.0, 13.5));
        p.drawLine(QPointF(1.0, 12.0), QPointF(3.0, 12.0));
        p.drawRoundedRect(QRectF(15.0, 7.0, 6.0, 10.0), 1.5, 1.5);
        p.drawLine(QPointF(21.0, 12.0), QPointF(23.0, 12.0));
        p.setPen(pen(kRed, 1.6));
        p.drawLine(QPointF(13.5, 4.0), QPointF(12.5, 7.0));
        p.drawLine(QPointF(13.5, 17.0), QPointF(12.5, 20.0));
        return;
    }
    case ToolIcon::Options: {
        // Three sliders.
        const qreal ys[] = {6.0, 12.0, 18.0};
        const qreal knobs[] = {15.0, 8.0, 13.0};
        for (int i = 0; i < 3; ++i) {
            p.setPen(pen(kInk, 1.8));
            p.drawLine(QPointF(3.0, ys[i]), QPointF(21.0, ys[i]));
            p.setPen(pen(kInk, 1.4));
            p.setBrush(i == 1 ? kBlue : kPaper);
            p.drawEllipse(QPointF(knobs[i], ys[i]), 2.6, 2.6);
        }
        return;
    }
    case ToolIcon::AutoMode: {
        // A clock face with a circling arrow.
        const QPointF c(12.0, 12.0);
        p.setPen(pen(kInk, 1.5));
        p.setBrush(kPaper);
        p.drawEllipse(c, 7.0, 7.0);
        p.drawLine(c, c + QPointF(0, -4.3));
        p.drawLine(c, c + QPointF(3.0, 1.6));
        p.setPen(pen(kBlue, 1.8));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(1.5, 1.5, 21.0, 21.0), 100 * 16, 250 * 16);
        p.setBrush(kBlue);
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF({QPointF(9.0, -0.2), QPointF(13.6, 2.4), QPointF(9.4, 5.0)}));
        return;
    }
    case ToolIcon::Quit: {
        // The power sign.
        p.setPen(pen(kRed, 2.4));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4.0, 4.5, 16.0, 16.0), 125 * 16, -250 * 16);
        p.drawLine(QPointF(12.0, 2.5), QPointF(12.0, 11.5));
        return;
    }
    case ToolIcon::Refresh: {
        // Two arrows chasing each other round a circle.
        const QRectF ring(4.0, 4.0, 16.0, 16.0);
        p.setPen(pen(kBlue, 2.2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(ring, 20 * 16, 140 * 16);
        p.drawArc(ring, 200 * 16, 140 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawPolygon(QPolygonF({QPointF(2.2, 8.6), QPointF(8.6, 9.2), QPointF(4.6, 14.2)}));
        p.drawPolygon(QPolygonF({QPointF(21.8, 15.4), QPointF(15.4, 14.8), QPointF(19.4, 9.8)}));
        return;
    }
    case ToolIcon::DeleteOne:
        envelope(p, QRectF(2.0, 4.5, 17.0, 12.5), kPaper, kInk);
        crossBadge(p, QPointF(17.0, 17.0), 5.6);
        return;
    case ToolIcon::DeleteAll:
        // A pile of envelopes.
        envelope(p, QRectF(6.0, 1.5, 15.0, 10.5), kPaper, kInk);
        envelope(p, QRectF(4.0, 4.5, 15.0, 10.5), kPaper, kInk);
        envelope(p, QRectF(2.0, 7.5, 15.0, 10.5), kPaper, kInk);
        crossBadge(p, QPointF(17.0, 17.5), 5.6);
        return;
    case ToolIcon::ViewSaved: {
        // A yellow envelope under a magnifying glass.
        envelope(p, QRectF(1.5, 3.5, 17.5, 13.0), kYellow, kYellowInk);
        const QPointF c(15.0, 14.0);
        p.setPen(pen(kInk, 2.6));
        p.drawLine(c + QPointF(3.6, 3.6), c + QPointF(7.2, 7.2));
        p.setPen(pen(kInk, 1.6));
        p.setBrush(QColor(0xFF, 0xFF, 0xFF, 0xD0));
        p.drawEllipse(c, 4.6, 4.6);
        return;
    }
    }
}

void drawApplication(QPainter &p) {
    // A shield on a 32-unit grid.
    QPainterPath shield;
    shield.moveTo(16.0, 1.5);
    shield.cubicTo(21.0, 4.0, 25.0, 4.5, 29.0, 4.5);
    shield.cubicTo(29.0, 17.0, 25.0, 25.5, 16.0, 30.5);
    shield.cubicTo(7.0, 25.5, 3.0, 17.0, 3.0, 4.5);
    shield.cubicTo(7.0, 4.5, 11.0, 4.0, 16.0, 1.5);
    QLinearGradient fill(0, 0, 0, 32);
    fill.setColorAt(0, QColor(0x3D, 0x86, 0xE0));
    fill.setColorAt(1, QColor(0x1E, 0x4F, 0x9A));
    p.setPen(pen(QColor(0x16, 0x3D, 0x78), 1.2));
    p.setBrush(fill);
    p.drawPath(shield);
    envelope(p, QRectF(8.5, 10.0, 15.0, 10.5), Qt::white, QColor(0x16, 0x3D, 0x78));
}

} // namespace

QIcon markIcon(RowMark mark) {
    return drawn([mark](QPainter &p) { drawMark(p, mark); }, 16.0);
}

QIcon toolIcon(ToolIcon which) {
    return drawn([which](QPainter &p) { drawTool(p, which); }, 24.0);
}

QIcon applicationIcon() {
    return drawn(drawApplication, 32.0);
}

QIcon trayIcon(TrayBadge badge) {
    if (badge == TrayBadge::None)
        return applicationIcon();
    return drawn(
        [badge](QPainter &p) {
            drawApplication(p);
            const QColor fill =
                badge == TrayBadge::AutoMode ? QColor(0x2e, 0x9d, 0x3a) : QColor(0xc6, 0x28, 0x28);
            p.setPen(pen(Qt::white, 1.6));
            p.setBrush(fill);
            p.drawEllipse(QPointF(24.5, 24.5), 6.5, 6.5);
            p.setPen(pen(Qt::white, 1.8));
            if (badge == TrayBadge::AutoMode) {
                // A tick: the mailboxes are being looked after.
                p.drawPolyline(QPolygonF{{21.6, 24.6}, {23.8, 26.8}, {27.6, 22.4}});
            } else {
                p.drawLine(QPointF(24.5, 21.3), QPointF(24.5, 25.4));
                p.drawPoint(QPointF(24.5, 27.9));
            }
        },
        32.0);
}

} // namespace corvane
