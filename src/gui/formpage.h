#pragma once

#include <QObject>
#include <QSize>

class QEvent;
class QMainWindow;
class QRect;
class QScreen;
class QScrollArea;

// The window's form in a scroll area, and the window's size on a screen: the
// form's fixed size where it fits, else a smaller window whose form scrolls.
class FormPage final : public QObject
{
    Q_OBJECT

public:
    // Takes `window`'s central widget, the form of size `form` with the
    // status bar, into the scroll area.
    FormPage(QMainWindow *window, const QSize &form);
    Q_DISABLE_COPY(FormPage)

    QScrollArea *area() const { return scrollArea; }
    // Fits the window into `available` (a screen's available geometry).
    void fitTo(const QRect &available);
    // On the first show, for the screen the window is shown on.
    void fitOnFirstShow(const QScreen *screen);

protected:
    // Tab or Backtab reaching a control out of view scrolls it into view.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMainWindow *window;
    const QSize form;
    QScrollArea *scrollArea = nullptr;
    bool fitted = false; // fitOnFirstShow done
};
