#include "imagewindow.h"

#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QToolTip>

ImageWindow::ImageWindow(const QWidget *parent, const QString &titleSuffix)
    : QLabel(nullptr)
{
    const Qt::WindowFlags flags = parent ? parent->windowFlags() : Qt::WindowFlags(Qt::Window);
    setWindowFlags(flags | Qt::MSWindowsFixedSizeDialogHint);
    if (parent) {
        setWindowIcon(parent->windowIcon());
        setWindowTitle(parent->windowTitle() + QLatin1Char(' ') + titleSuffix);
    } else {
        setWindowTitle(titleSuffix);
    }
    setCursor(Qt::CrossCursor);
    setMouseTracking(true);
}

void ImageWindow::showImage(const QImage &image)
{
    setPixmap(QPixmap::fromImage(image));
    show();
    const QPoint pos = mapFromGlobal(QCursor::pos());
    if (underMouse() && image.rect().contains(pos))
        emit mouseMoved(pos);
}

void ImageWindow::showToolTip(const QPoint &pos, const QString &text)
{
    QToolTip::showText(mapToGlobal(pos), text, this);
}

void ImageWindow::mouseMoveEvent(QMouseEvent *event)
{
    emit mouseMoved(event->localPos().toPoint());
    event->accept();
}
