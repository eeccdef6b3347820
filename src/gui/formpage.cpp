#include "formpage.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFocusEvent>
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
    // The scroll area itself brings only a text field's cursor into view, and
    // only when Tab is pressed inside it.
    QCoreApplication::instance()->installEventFilter(this);
}

bool FormPage::eventFilter(QObject *watched, QEvent *event)
{
    // Room left around the control, in pixels, where the view has it.
    constexpr int margin = 8;
    if (event->type() == QEvent::FocusIn) {
        // A click does not move the form under the mouse.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        auto *control = qobject_cast<QWidget *>(watched);
        if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) && control
            && scrollArea->widget() && scrollArea->widget()->isAncestorOf(control)) {
            const QRect rect(control->mapTo(scrollArea->widget(), QPoint(0, 0)), control->size());
            scrollArea->ensureVisible(rect.center().x(), rect.center().y(),
                rect.width() / 2 + margin, rect.height() / 2 + margin);
        }
    }
    return QObject::eventFilter(watched, event);
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
