#pragma once

#include <QGraphicsView>

class QMouseEvent;

// The video view: reports presses, double clicks and moves over its viewport
// to the zone editing instead of handling them itself. Releases are left to
// the graphics view.
class GraphicsViewMouse final : public QGraphicsView
{
    Q_OBJECT

public:
    explicit GraphicsViewMouse(QWidget *parent = nullptr);

signals:
    void sendMousePressVideo(QMouseEvent *e);
    void sendMouseBClickVideo(QMouseEvent *e);
    void sendMouseMoveVideo(QMouseEvent *e);

protected slots:
    void setupViewport(QWidget *widget) override;

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
};
