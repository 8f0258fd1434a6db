#pragma once

#include <QWidget>

class QSvgRenderer;

namespace corvane {

// A picture drawn from an SVG drawing each time it is painted, so it is sharp at any size and
// display scaling. The drawing keeps its proportions and covers the whole widget; what does
// not fit is cut off on the sides away from the anchor.
class SvgPicture final : public QWidget {
    Q_OBJECT
public:
    // resource: a file or ":/..." resource path. anchor: the edges the drawing keeps.
    SvgPicture(const QString &resource, Qt::Alignment anchor, QWidget *parent = nullptr);

    // Whether the drawing could be read.
    bool isValid() const;
    // The drawing's own size, in logical pixels.
    QSize drawingSize() const;
    QSize sizeHint() const override { return drawingSize(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QSvgRenderer *m_renderer;
    Qt::Alignment m_anchor;
};

} // namespace corvane
