#pragma once

#include <functional>

#include <QObject>
#include <QPointer>
#include <QString>

class QStatusBar;
class QWidget;
class ReviewWindow;
class SummaryWindow;
class WorkingFolder;

// The windows "Summary" and "Review" open: the summary of the working
// folder and the review of the open video's counts, each made on first use
// and gone when closed.
class ResultWindows final : public QObject
{
    Q_OBJECT

public:
    // `frame` says the frame the window shows, for the review.
    ResultWindows(QWidget *window, QStatusBar *status, std::function<double()> frame);
    Q_DISABLE_COPY(ResultWindows)

    void showSummary(const WorkingFolder &folder);
    // Says in the status bar when `video` has no counts to review.
    void showReview(const QString &video);
    // An open summary follows the working folder and its counts.
    void folderChanged(const QString &path);
    void countsChanged();

signals:
    // The review of `video` was changed in its window.
    void reviewChanged(const QString &video);

private:
    QWidget *window;
    QStatusBar *status;
    std::function<double()> frame;
    QPointer<SummaryWindow> summary;
    QPointer<ReviewWindow> review;
};
