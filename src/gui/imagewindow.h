#pragma once

#include <QLabel>

class QImage;
class QMouseEvent;
class QPoint;

// A free-floating window that shows one image at a time and reports the mouse
// position over it. It has no Qt parent: whoever creates it owns it.
class ImageWindow final : public QLabel
{
    Q_OBJECT

public:
    // Takes the window flags, icon and title of `parent` (title, a blank and
    // `titleSuffix`) but is not its child.
    ImageWindow(const QWidget *parent, const QString &titleSuffix);

    // Places the window on the screen of `beside`: to its right or left when
    // there is room, else over its right part, never over `keepClear`
    // (global coordinates). Returns the size, at most `imageSize`, that an
    // image of that aspect is shown at so that the window fits the screen.
    QSize placeBeside(const QWidget *beside, const QRect &keepClear, const QSize &imageSize);

signals:
    void mouseMoved(QPoint pos);

public slots:
    void showImage(const QImage &image);
    // Shows `text` at `pos`, given in label coordinates.
    void showToolTip(const QPoint &pos, const QString &text);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
};
