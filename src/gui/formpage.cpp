#include "formpage.h"

#include <QMainWindow>
#include <QRect>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>

FormPage::FormPage(QMainWindow *mainWindow, const QSize &formSize)
    : QObject(mainWindow)
    , window(mainWindow)
    , form(formSize)
{
    QWidget *page = window->takeCentralWidget();
    page->setFixedSize(form.width(), form.height() - window->statusBar()->sizeHint().height());
    scrollArea = new QScrollArea(window);
    scrollArea->setObjectName(QStringLiteral("sa_page"));
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setWidget(page);
    window->setCentralWidget(scrollArea);
    fitTo(QRect(QPoint(0, 0), form + QSize(100, 100)));
}

void FormPage::fitTo(const QRect &available)
{
    // Room for the title bar and borders a window manager adds.
    const QSize decoration(10, 40);
    const QSize room = (available.size() - decoration).expandedTo(QSize(320, 240));
    if (room.width() >= form.width() && room.height() >= form.height()) {
        window->setMinimumSize(form);
        window->setMaximumSize(form);
        scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        window->resize(form);
        return;
    }
    // A smaller window whose form scrolls: every control can be reached.
    // Where the height allows, one scroll bar does not bring the other.
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const int bar = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scrollArea);
    const QSize withBars = form + QSize(bar, bar);
    window->setMinimumSize(QSize(320, 240));
    window->setMaximumSize(withBars);
    window->resize(withBars.boundedTo(room));
    window->move(available.topLeft());
}

void FormPage::fitOnFirstShow(const QScreen *screen)
{
    if (fitted)
        return;
    fitted = true;
    if (screen)
        fitTo(screen->availableGeometry());
}
