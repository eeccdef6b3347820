#include "resultwindows.h"

#include <utility>

#include <QDir>
#include <QStatusBar>

#include "reviewwindow.h"
#include "summarywindow.h"
#include "workingfolder.h"

ResultWindows::ResultWindows(QWidget *window, QStatusBar *status, std::function<double()> frame)
    : QObject(window)
    , window(window)
    , status(status)
    , frame(std::move(frame))
{
}

void ResultWindows::showSummary(const WorkingFolder &folder)
{
    if (!folder.usable()) {
        status->showMessage(folder.path().isEmpty()
                ? tr("Choose a working directory with \"...\" first.")
                : tr("The working directory %1 does not exist.")
                      .arg(QDir::toNativeSeparators(folder.path())));
        return;
    }
    if (!summary) {
        summary = new SummaryWindow(window);
        summary->setAttribute(Qt::WA_DeleteOnClose);
    }
    summary->setFolder(folder.path());
    summary->show();
    summary->raise();
    summary->activateWindow();
}

void ResultWindows::showReview(const QString &video)
{
    if (!review) {
        review = new ReviewWindow(window);
        review->setAttribute(Qt::WA_DeleteOnClose);
        review->setFrameSource(frame);
        connect(review, &ReviewWindow::reviewChanged, this, [this](const QString &changed) {
            emit reviewChanged(changed);
            countsChanged();
        });
    }
    if (video.isEmpty() || !review->setVideo(video)) {
        status->showMessage(tr("No counts to review: process the video first"));
        return;
    }
    review->show();
    review->raise();
    review->activateWindow();
}

void ResultWindows::folderChanged(const QString &path)
{
    if (summary)
        summary->setFolder(path);
}

void ResultWindows::countsChanged()
{
    if (summary)
        summary->scheduleRefresh();
}
