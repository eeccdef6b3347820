#include "imagewindow.h"

#include <algorithm>

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
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

QSize ImageWindow::placeBeside(
    const QWidget *beside, const QRect &keepClear, const QSize &imageSize)
{
    // Room for the title bar and borders the window manager adds.
    constexpr int decoration = 32;
    constexpr int margin = 8;
    constexpr int narrowest = 320;
    const QScreen *screen = beside ? beside->screen() : QGuiApplication::primaryScreen();
    if (!screen || imageSize.isEmpty())
        return imageSize;
    const QRect available = screen->availableGeometry();
    const QRect main = beside ? beside->frameGeometry() : QRect();

    QRect area;
    bool rightAligned = false;
    if (available.right() - main.right() >= narrowest) {
        area = QRect(QPoint(main.right() + 1, available.top()), available.bottomRight());
    } else if (main.left() - available.left() >= narrowest) {
        area = QRect(available.topLeft(), QPoint(main.left() - 1, available.bottom()));
        rightAligned = true;
    } else {
        // No room beside: over the window's right part, at most half the
        // screen wide, clear of the buttons.
        const int left = std::max({ available.left(), keepClear.right() + 1 + margin,
            available.right() + 1 - available.width() / 2 });
        area = QRect(QPoint(left, available.top()), available.bottomRight());
        rightAligned = true;
    }

    QSize shown = imageSize;
    const QSize room(std::max(1, area.width() - margin), std::max(1, area.height() - decoration));
    if (shown.width() > room.width() || shown.height() > room.height())
        shown.scale(room, Qt::KeepAspectRatio);
    shown = shown.expandedTo(QSize(1, 1));
    setFixedSize(shown);
    const int x = rightAligned ? area.right() + 1 - shown.width() - margin : area.left();
    move(x, area.top());
    return shown;
}
