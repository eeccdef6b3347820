#pragma once

#include <functional>

#include <QString>
#include <QVector>
#include <QWidget>

#include "zones/reviewfile.h"

class ClipDecoder;
class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class QTimer;
class ReviewModel;

// "Review": every event of the video's count file as a tile in a grid, a
// short looping clip cropped around it with the counting line drawn in.
// Arrow keys move, Space confirms, Delete rejects, U takes a decision back;
// the filter shows one state or all. Each decision is saved at once to the
// video's review file. Clips are decoded by a ClipDecoder, the visible tiles
// first, and only the tiles near the view keep theirs.
class ReviewWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit ReviewWindow(QWidget *parent = nullptr);
    ~ReviewWindow() override;

    // The review of one video; false (and the reason shown) without counts.
    bool setVideo(const QString &video);
    // A random sample of the folder's events (see ReviewSample), saved as
    // the folder's sample and shown.
    bool reviewSample(const QString &folder, int size, quint32 seed);
    // The frame the main window shows (as the capture numbers frames), for
    // "Add missed event".
    void setFrameSource(std::function<double()> source) { frameSource = std::move(source); }

    ReviewModel *model() const { return tiles; }
    QListView *view() const { return list; }
    // Visible tiles whose clip has not come yet.
    int visibleWaiting() const;
    // Visible tiles that show neither their event's frame nor their clip yet.
    int visibleBlank() const;
    // Rows on screen now, top to bottom.
    QVector<int> visibleRows() const;

signals:
    // Decisions of the video changed on disk.
    void reviewChanged(const QString &video);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void decideCurrent(ReviewFile::Decision decision);
    void applyFilter();
    void updateCounts();
    void showBinding();
    void requestClips();
    void scheduleClips();
    void addMissed();
    void askSample();
    void carryOver(bool keep);
    void reportError(const QString &what, const QString &why);
    void loaded();

    ReviewModel *tiles = nullptr;
    ClipDecoder *decoder = nullptr;
    QListView *list = nullptr;
    QLabel *counts = nullptr;
    QComboBox *filter = nullptr;
    QPushButton *addButton = nullptr;
    QPushButton *sampleButton = nullptr;
    QWidget *bindingBar = nullptr;
    QLabel *bindingText = nullptr;
    QPushButton *carryButton = nullptr;
    QLabel *status = nullptr;
    QTimer *animation = nullptr;
    QTimer *clipTimer = nullptr;
    QString mainVideo; // the video the window was opened on
    std::function<double()> frameSource;
};
