#include "reviewwindow.h"

#include <algorithm>
#include <optional>

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "logging.h"
#include "report/reviewsample.h"
#include "reviewadddialog.h"
#include "reviewdelegate.h"
#include "reviewmodel.h"
#include "video/clipdecoder.h"
#include "zones/videofiles.h"

namespace {

constexpr int kAnimationMs = 50; // clips play at 20 frames a second
constexpr int kAnyDecision = -1;

} // namespace

ReviewWindow::ReviewWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ReviewWindow"));
    setWindowTitle(tr("Review"));
    tiles = new ReviewModel(this);
    decoder = new ClipDecoder(this);

    counts = new QLabel(this);
    counts->setObjectName(QStringLiteral("la_reviewcounts"));
    filter = new QComboBox(this);
    filter->setObjectName(QStringLiteral("cb_reviewfilter"));
    filter->addItem(tr("All"), kAnyDecision);
    filter->addItem(tr("Unreviewed"), int(ReviewFile::Decision::Unreviewed));
    filter->addItem(tr("Confirmed"), int(ReviewFile::Decision::Confirmed));
    filter->addItem(tr("Rejected"), int(ReviewFile::Decision::Rejected));
    filter->addItem(tr("Added"), int(ReviewFile::Decision::Added));
    filter->setFocusPolicy(Qt::ClickFocus);
    addButton = new QPushButton(tr("Add missed event"), this);
    addButton->setObjectName(QStringLiteral("pb_addevent"));
    addButton->setToolTip(tr("An event at the frame the main window shows, placed by a click"));
    addButton->setFocusPolicy(Qt::ClickFocus);
    sampleButton = new QPushButton(tr("Review a sample..."), this);
    sampleButton->setObjectName(QStringLiteral("pb_reviewsample"));
    sampleButton->setFocusPolicy(Qt::ClickFocus);

    auto *top = new QHBoxLayout;
    top->addWidget(counts, 1);
    top->addWidget(filter);
    top->addWidget(addButton);
    top->addWidget(sampleButton);

    bindingBar = new QWidget(this);
    bindingText = new QLabel(bindingBar);
    bindingText->setObjectName(QStringLiteral("la_reviewbinding"));
    bindingText->setWordWrap(true);
    carryButton = new QPushButton(tr("Carry over"), bindingBar);
    carryButton->setObjectName(QStringLiteral("pb_carryover"));
    auto *restart = new QPushButton(tr("Start again"), bindingBar);
    restart->setObjectName(QStringLiteral("pb_startagain"));
    auto *bar = new QHBoxLayout(bindingBar);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(bindingText, 1);
    bar->addWidget(carryButton);
    bar->addWidget(restart);
    bindingBar->hide();

    list = new QListView(this);
    list->setObjectName(QStringLiteral("lv_reviewtiles"));
    list->setViewMode(QListView::IconMode);
    list->setMovement(QListView::Static);
    list->setResizeMode(QListView::Adjust);
    list->setUniformItemSizes(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSpacing(4);
    list->setItemDelegate(new ReviewDelegate(list));
    list->setModel(tiles);
    list->installEventFilter(this);

    status = new QLabel(this);
    status->setObjectName(QStringLiteral("la_reviewstatus"));
    status->setWordWrap(true);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(bindingBar);
    layout->addWidget(list, 1);
    layout->addWidget(status);
    resize(4 * 214 + 40, 2 * 270 + 110);

    animation = new QTimer(this);
    animation->setInterval(kAnimationMs);
    connect(animation, &QTimer::timeout, this, [this] {
        tiles->advance();
        list->viewport()->update();
    });
    clipTimer = new QTimer(this);
    clipTimer->setSingleShot(true);
    clipTimer->setInterval(30);
    connect(clipTimer, &QTimer::timeout, this, &ReviewWindow::requestClips);

    connect(decoder, &ClipDecoder::clipReady, tiles, &ReviewModel::setClip);
    connect(
        list->verticalScrollBar(), &QScrollBar::valueChanged, this, &ReviewWindow::scheduleClips);
    connect(tiles, &QAbstractItemModel::modelReset, this, &ReviewWindow::scheduleClips);
    connect(filter, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        &ReviewWindow::applyFilter);
    connect(addButton, &QPushButton::clicked, this, &ReviewWindow::addMissed);
    connect(sampleButton, &QPushButton::clicked, this, &ReviewWindow::askSample);
    connect(carryButton, &QPushButton::clicked, this, [this] { carryOver(true); });
    connect(restart, &QPushButton::clicked, this, [this] { carryOver(false); });
}

ReviewWindow::~ReviewWindow() = default;

bool ReviewWindow::setVideo(const QString &video)
{
    QString problem;
    if (!tiles->setVideos({ video }, &problem)) {
        reportError(tr("Cannot review %1").arg(QFileInfo(video).fileName()), problem);
        return false;
    }
    mainVideo = video;
    setWindowTitle(tr("Review: %1").arg(QFileInfo(video).fileName()));
    loaded();
    return true;
}

bool ReviewWindow::reviewSample(const QString &folder, int size, quint32 seed)
{
    const ReviewSample sample = ReviewSample::draw(folder, size, seed);
    QString problem;
    if (sample.picks.isEmpty()) {
        reportError(tr("Cannot draw a sample"), tr("the folder has no counted events"));
        return false;
    }
    QVector<QPair<QString, Result>> picks;
    for (const ReviewSample::Pick &p : sample.picks)
        picks.append({ p.video, p.event });
    if (!sample.save(folder, &problem) || !tiles->setPicks(folder, picks, &problem)) {
        reportError(tr("Cannot review a sample"), problem);
        return false;
    }
    setWindowTitle(tr("Review: a sample of %1 of %2 events (seed %3)")
                       .arg(sample.picks.size())
                       .arg(sample.total)
                       .arg(seed));
    loaded();
    return true;
}

void ReviewWindow::loaded()
{
    status->clear();
    showBinding();
    applyFilter();
    updateCounts();
    for (int row = 0; row < tiles->rowCount(); ++row) {
        if (!list->isRowHidden(row)) {
            list->setCurrentIndex(tiles->index(row));
            break;
        }
    }
}

void ReviewWindow::reportError(const QString &what, const QString &why)
{
    const QString text = tr("%1: %2").arg(what, why);
    qCWarning(lcGui).noquote() << text;
    status->setText(text);
}

void ReviewWindow::showBinding()
{
    QStringList stale;
    QStringList unreadable;
    for (const ReviewModel::Video &v : tiles->videos()) {
        if (v.review.binding() == VideoReview::Binding::Stale)
            stale << QFileInfo(v.path).fileName();
        else if (v.review.binding() == VideoReview::Binding::Unreadable)
            unreadable << v.review.bindingProblem();
    }
    if (!unreadable.isEmpty()) {
        bindingText->setText(tr("The review file cannot be read (%1). \"Start again\" replaces it.")
                                 .arg(unreadable.join(QStringLiteral("; "))));
    } else if (!stale.isEmpty()) {
        bindingText->setText(
            tr("The counts of %1 changed since they were reviewed (a new run). Carry the "
               "decisions over to the events at the same frame and place, or start again?")
                .arg(stale.join(QStringLiteral(", "))));
    }
    carryButton->setVisible(unreadable.isEmpty());
    bindingBar->setVisible(!stale.isEmpty() || !unreadable.isEmpty());
}

void ReviewWindow::carryOver(bool keep)
{
    for (int v = 0; v < tiles->videos().size(); ++v) {
        const ReviewModel::Video &video = tiles->videos()[v];
        if (video.review.binding() != VideoReview::Binding::Stale
            && video.review.binding() != VideoReview::Binding::Unreadable)
            continue;
        const QString path = video.path;
        QString problem;
        const bool done = keep ? tiles->carryOver(v, &problem) : tiles->startAgain(v, &problem);
        if (!done) {
            reportError(
                tr("Cannot save the review of %1").arg(QFileInfo(path).fileName()), problem);
            return;
        }
        emit reviewChanged(path);
    }
    loaded();
}

void ReviewWindow::applyFilter()
{
    const int wanted = filter->currentData().toInt();
    for (int row = 0; row < tiles->rowCount(); ++row)
        list->setRowHidden(row, wanted != kAnyDecision && int(tiles->decision(row)) != wanted);
    scheduleClips();
}

void ReviewWindow::updateCounts()
{
    const VideoReview::Tally t = tiles->tally();
    counts->setText(
        tr("Unreviewed %1, confirmed %2, rejected %3, added %4; reviewed: %5 in, %6 out")
            .arg(tiles->count(ReviewFile::Decision::Unreviewed))
            .arg(tiles->count(ReviewFile::Decision::Confirmed))
            .arg(tiles->count(ReviewFile::Decision::Rejected))
            .arg(tiles->count(ReviewFile::Decision::Added))
            .arg(t.in)
            .arg(t.out));
}

void ReviewWindow::decideCurrent(ReviewFile::Decision decision)
{
    const int row = list->currentIndex().row();
    if (row < 0 || tiles->decision(row) == ReviewFile::Decision::Added)
        return;
    QString problem;
    if (!tiles->decide(row, decision, &problem)) {
        reportError(tr("Cannot save the decision"), problem);
        return;
    }
    status->clear();
    emit reviewChanged(tiles->videos()[tiles->videoOf(row)].path);
    // On to the next tile shown, before the filter may hide this one.
    int next = row + 1;
    while (next < tiles->rowCount() && list->isRowHidden(next))
        ++next;
    applyFilter();
    updateCounts();
    if (next < tiles->rowCount() && !list->isRowHidden(next))
        list->setCurrentIndex(tiles->index(next));
}

bool ReviewWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == list && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent *>(event)->key()) {
        case Qt::Key_Space:
            decideCurrent(ReviewFile::Decision::Confirmed);
            return true;
        case Qt::Key_Delete:
            decideCurrent(ReviewFile::Decision::Rejected);
            return true;
        case Qt::Key_U:
            decideCurrent(ReviewFile::Decision::Unreviewed);
            return true;
        default:
            break;
        }
    }
    if (watched == list && event->type() == QEvent::Resize)
        scheduleClips();
    return QWidget::eventFilter(watched, event);
}

void ReviewWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    animation->start();
    scheduleClips();
}

void ReviewWindow::hideEvent(QHideEvent *event)
{
    animation->stop();
    QWidget::hideEvent(event);
}

QVector<int> ReviewWindow::visibleRows() const
{
    QVector<int> rows;
    const QRect shown = list->viewport()->rect();
    for (int row = 0; row < tiles->rowCount(); ++row) {
        if (!list->isRowHidden(row) && list->visualRect(tiles->index(row)).intersects(shown))
            rows.append(row);
    }
    return rows;
}

int ReviewWindow::visibleWaiting() const
{
    const QVector<int> rows = visibleRows();
    return static_cast<int>(
        std::count_if(rows.begin(), rows.end(), [this](int row) { return !tiles->hasClip(row); }));
}

int ReviewWindow::visibleBlank() const
{
    const QVector<int> rows = visibleRows();
    return static_cast<int>(std::count_if(
        rows.begin(), rows.end(), [this](int row) { return !tiles->showsSomething(row); }));
}

void ReviewWindow::scheduleClips()
{
    clipTimer->start();
}

void ReviewWindow::requestClips()
{
    if (!isVisible())
        return;
    // Screen by screen, the tiles on screen first, then a screenful after
    // and one before, which keep their clips; the others give theirs up.
    // Within a screen, every tile's event frame comes before any clip: one
    // seek and one decode each, where a clip far from the next costs its own
    // second and a half of video.
    const QVector<int> shown = visibleRows();
    QVector<QVector<int>> screens { shown, {}, {} };
    if (!shown.isEmpty()) {
        const int screen = shown.size();
        for (int after = shown.last() + 1; screens[1].size() < screen && after < tiles->rowCount();
             ++after) {
            if (!list->isRowHidden(after))
                screens[1].append(after);
        }
        for (int before = shown.first() - 1; screens[2].size() < screen && before >= 0; --before) {
            if (!list->isRowHidden(before))
                screens[2].append(before);
        }
    }
    QVector<int> keep;
    QVector<ClipDecoder::Request> requests;
    for (const QVector<int> &rows : screens) {
        keep += rows;
        for (const int row : rows) {
            if (tiles->stage(row) == ReviewModel::Stage::Waiting)
                requests.append(ClipDecoder::eventFrameOf(tiles->clipRequest(row)));
        }
        for (const int row : rows) {
            if (!tiles->hasClip(row))
                requests.append(tiles->clipRequest(row));
        }
    }
    tiles->dropClipsExcept(keep);
    decoder->request(requests);
}

void ReviewWindow::addMissed()
{
    int video = -1;
    for (int v = 0; v < tiles->videos().size(); ++v) {
        if (tiles->videos()[v].path == mainVideo)
            video = v;
    }
    if (video < 0 || !frameSource) {
        reportError(tr("Cannot add an event"), tr("open the review of the video shown"));
        return;
    }
    const double frame = frameSource();
    ReviewAddDialog dialog(mainVideo, frame, tiles->isLine(video), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    Result event = dialog.event();
    const ReviewModel::Video &v = tiles->videos()[video];
    const int wholeFps = v.fps >= 1 ? static_cast<int>(v.fps) : 0;
    event.timestamp = VideoFiles::startTimeFromFileName(mainVideo)
                          .addSecs(wholeFps > 0 ? static_cast<qint64>(event.frame) / wholeFps : 0)
                          .toString(QStringLiteral("yyyy-MM-dd_hh:mm:ss"));
    QString problem;
    const std::optional<int> row = tiles->addEvent(video, event, &problem);
    if (!row) {
        reportError(tr("Cannot save the added event"), problem);
        return;
    }
    emit reviewChanged(mainVideo);
    applyFilter();
    updateCounts();
    list->setCurrentIndex(tiles->index(*row));
}

void ReviewWindow::askSample()
{
    const QString folder = QFileInfo(mainVideo).absolutePath();
    bool ok = false;
    const int size = QInputDialog::getInt(this, tr("Review a sample"),
        tr("Events to draw at random from every count file of %1:")
            .arg(QDir::toNativeSeparators(folder)),
        100, 1, 1000000, 1, &ok);
    if (!ok)
        return;
    const int seed = QInputDialog::getInt(this, tr("Review a sample"),
        tr("Seed (the same seed draws the same events; report it with the precision):"),
        static_cast<int>(QDateTime::currentSecsSinceEpoch() % 100000), 0, 2147483647, 1, &ok);
    if (ok)
        reviewSample(folder, size, static_cast<quint32>(seed));
}
