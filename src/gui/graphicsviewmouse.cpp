#include "graphicsviewmouse.h"

#include <QMouseEvent>

GraphicsViewMouse::GraphicsViewMouse(QWidget *parent)
    : QGraphicsView(parent)
{
    // Moves without a button held must reach the zone editing too (the mouse
    // position label); the base view tracks only for hover items.
    viewport()->setMouseTracking(true);
}

void GraphicsViewMouse::setupViewport(QWidget *widget)
{
    QGraphicsView::setupViewport(widget);
    widget->setMouseTracking(true);
}

void GraphicsViewMouse::mousePressEvent(QMouseEvent *e)
{
    emit sendMousePressVideo(e);
}

void GraphicsViewMouse::mouseDoubleClickEvent(QMouseEvent *e)
{
    emit sendMouseBClickVideo(e);
}

void GraphicsViewMouse::mouseMoveEvent(QMouseEvent *e)
{
    emit sendMouseMoveVideo(e);
}
