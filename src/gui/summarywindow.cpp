#include "summarywindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QResizeEvent>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "logging.h"
#include "report/activitychart.h"
#include "report/summaryreport.h"
#include "zones/videofiles.h"

namespace {
// Changes of a running process come in bursts: one refresh per burst.
constexpr int refreshDelayMs = 300;

QString pngFilter()
{
    return SummaryWindow::tr("PNG image (*.png)");
}

QString svgFilter()
{
    return SummaryWindow::tr("SVG image (*.svg)");
}

QString namingRule()
{
    return SummaryWindow::tr(
        "Names like video_yyyyMMdd_hhmm_NN.mp4 (video_20150612_0930_01.mp4) carry the recording "
        "start; the counts of other videos are stamped with the time they were processed, and "
        "are shown as undated.");
}
} // namespace

SummaryWindow::SummaryWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("Summary"));
    resize(1000, 760);

    model = new QStandardItemModel(0, 11, this);
    model->setHorizontalHeaderLabels({ tr("Video"), tr("Recording start"), tr("Duration"),
        tr("Frames processed"), tr("In"), tr("Out"), tr("Status"), tr("Method"), tr("Reviewed in"),
        tr("Reviewed out"), tr("Review status") });
    table = new QTableView(this);
    table->setObjectName(QStringLiteral("tv_summary"));
    table->setModel(model);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setToolTip(tr("One row per video of the folder, as summary.csv has them"));
    model->horizontalHeaderItem(1)->setToolTip(namingRule());

    totals = new QLabel(this);
    totals->setObjectName(QStringLiteral("la_totals"));
    naming = new QLabel(this);
    naming->setObjectName(QStringLiteral("la_naming"));
    naming->setWordWrap(true);
    naming->hide();
    chart = new QLabel(this);
    chart->setObjectName(QStringLiteral("la_chart"));
    chart->setToolTip(tr("In and out per bin; the shaded stretches were recorded and counted"));
    chart->setMinimumSize(600, 300);
    chart->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);

    binBox = new QComboBox(this);
    binBox->setObjectName(QStringLiteral("cb_bin"));
    binBox->addItem(tr("10 minutes"), static_cast<int>(ActivityBins::Width::TenMinutes));
    binBox->addItem(tr("1 hour"), static_cast<int>(ActivityBins::Width::Hour));
    binBox->addItem(tr("1 day"), static_cast<int>(ActivityBins::Width::Day));
    binBox->setCurrentIndex(1);
    binBox->setToolTip(tr("The time each bar of the chart covers"));
    saveButton = new QPushButton(tr("Save chart"), this);
    saveButton->setObjectName(QStringLiteral("pb_savechart"));
    saveButton->setToolTip(tr("Save the chart as a PNG or SVG image where you choose"));
    exportButton = new QPushButton(tr("Export"), this);
    exportButton->setObjectName(QStringLiteral("pb_export"));
    exportButton->setToolTip(
        tr("Write summary.csv, activity.csv, activity.png and activity.svg into exportCSV"));
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("la_status"));

    auto *controls = new QHBoxLayout;
    controls->addWidget(new QLabel(tr("Bins:"), this));
    controls->addWidget(binBox);
    reviewedBox = new QCheckBox(tr("Reviewed counts"), this);
    reviewedBox->setObjectName(QStringLiteral("cb_reviewedchart"));
    reviewedBox->setToolTip(tr("Chart only the confirmed and added events of the reviews"));
    connect(reviewedBox, &QCheckBox::toggled, this, [this] {
        bins = computeBins();
        showChart();
    });
    controls->addWidget(reviewedBox);
    controls->addStretch();
    controls->addWidget(saveButton);
    controls->addWidget(exportButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table, 2);
    layout->addWidget(totals);
    layout->addWidget(naming);
    layout->addLayout(controls);
    layout->addWidget(chart, 3);
    layout->addWidget(status);

    watcher = new QFileSystemWatcher(this);
    refreshTimer = new QTimer(this);
    refreshTimer->setSingleShot(true);
    refreshTimer->setInterval(refreshDelayMs);
    connect(refreshTimer, &QTimer::timeout, this, &SummaryWindow::refresh);
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, &SummaryWindow::scheduleRefresh);
    connect(binBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        bins = computeBins();
        showChart();
    });
    connect(saveButton, &QPushButton::clicked, this, &SummaryWindow::saveChart);
    connect(exportButton, &QPushButton::clicked, this, &SummaryWindow::exportFiles);
}

SummaryWindow::~SummaryWindow() = default;

ActivityBins SummaryWindow::computeBins() const
{
    return ActivityBins::compute(reviewedBox->isChecked() ? current.reviewedOnly() : current,
        static_cast<ActivityBins::Width>(binBox->currentData().toInt()));
}

void SummaryWindow::setFolder(const QString &path)
{
    folder = path;
    setWindowTitle(tr("Summary of %1").arg(QDir::toNativeSeparators(folder)));
    refresh();
}

void SummaryWindow::scheduleRefresh()
{
    refreshTimer->start();
}

void SummaryWindow::refresh()
{
    refreshTimer->stop();
    const bool exists = !folder.isEmpty() && QFileInfo(folder).isDir();
    current = exists ? FolderSummary::read(folder) : FolderSummary();
    bins = computeBins();
    watchFolder();
    fillTable();
    showChart();
    const bool any = current.countFiles() > 0;
    saveButton->setEnabled(any);
    exportButton->setEnabled(any);
    if (!exists) {
        totals->setText(folder.isEmpty()
                ? tr("No working directory is chosen.")
                : tr("The folder %1 does not exist.").arg(QDir::toNativeSeparators(folder)));
    }
}

void SummaryWindow::watchFolder()
{
    // exportCSV may appear after the first look: watch again each time.
    if (!watcher->directories().isEmpty())
        watcher->removePaths(watcher->directories());
    if (folder.isEmpty())
        return;
    for (const QString &dir : { folder, VideoFiles::folderExportDir(folder) }) {
        if (QFileInfo(dir).isDir())
            watcher->addPath(dir);
    }
}

void SummaryWindow::fillTable()
{
    model->removeRows(0, model->rowCount());
    for (const FolderSummary::Row &row : current.rows()) {
        const bool counted = row.status != FolderSummary::Status::NotProcessed;
        QStringList cells { QFileInfo(row.video).fileName(),
            FolderSummary::formatTime(row.recordingStart),
            FolderSummary::formatDuration(row.durationSeconds),
            row.framesProcessed >= 0 ? QString::number(row.framesProcessed) : QString(),
            counted ? QString::number(row.in) : QString(),
            counted ? QString::number(row.out) : QString(), FolderSummary::statusName(row.status),
            row.method };
        const bool reviewed = row.review.status != VideoReview::Status::None;
        cells << (reviewed ? QString::number(row.review.in) : QString())
              << (reviewed ? QString::number(row.review.out) : QString())
              << VideoReview::statusName(row.review.status);
        QList<QStandardItem *> items;
        for (const QString &cell : cells)
            items.append(new QStandardItem(cell));
        model->appendRow(items);
    }
    table->resizeColumnsToContents();

    QString text = tr("%n video(s), %1 in, %2 out", nullptr, current.rows().size())
                       .arg(current.totalIn())
                       .arg(current.totalOut());
    if (current.firstEvent().isValid())
        text += tr("; first event %1, last event %2")
                    .arg(FolderSummary::formatTime(current.firstEvent()),
                        FolderSummary::formatTime(current.lastEvent()));
    if (current.undatedEvents() > 0)
        text += tr("; %n event(s) without a time stamp", nullptr, current.undatedEvents());
    if (!current.warnings().isEmpty()) {
        text += tr("; %n line(s) or record(s) left out", nullptr, current.warnings().size());
        // A tooltip of thousands of lines would cover the screen.
        const int shown = 20;
        QStringList tip = current.warnings().mid(0, shown);
        if (current.warnings().size() > shown)
            tip << tr("and %n more", nullptr, current.warnings().size() - shown);
        totals->setToolTip(tip.join(QLatin1Char('\n')));
    } else {
        totals->setToolTip(QString());
    }
    const FolderSummary::ReviewTotals reviewed = current.reviewTotals();
    if (reviewed.complete + reviewed.partial > 0)
        text += QLatin1Char('\n')
            + tr("Reviewed: %1 videos complete, %2 partial; %3 in, %4 out")
                  .arg(reviewed.complete)
                  .arg(reviewed.partial)
                  .arg(reviewed.in)
                  .arg(reviewed.out);
    if (const auto &p = current.samplePrecision())
        text += QLatin1Char('\n')
            + tr("Sample of %1 events (seed %2): %3 confirmed, %4 rejected, %5 not reviewed; "
                 "precision %6, 95 % interval %7 to %8")
                  .arg(current.sample().picks.size())
                  .arg(current.sample().seed)
                  .arg(p->confirmed)
                  .arg(p->rejected)
                  .arg(p->unreviewed)
                  .arg(p->value, 0, 'f', 3)
                  .arg(p->low, 0, 'f', 3)
                  .arg(p->high, 0, 'f', 3);
    totals->setText(text);

    // Where the rule matters: some counts are undated for want of it.
    const int undated = current.undatedVideos();
    naming->setVisible(undated > 0);
    naming->setText(
        tr("%n counted video(s) without a recording start in the name. ", nullptr, undated)
        + namingRule());
}

void SummaryWindow::showChart()
{
    const QSize size = chart->size().expandedTo(QSize(600, 300));
    const ActivityChart drawing(SummaryReport::title(current), bins, current.spans());
    chart->setPixmap(QPixmap::fromImage(drawing.image(size)));
}

void SummaryWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    showChart();
}

void SummaryWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SummaryWindow::saveChart()
{
    auto *dialog
        = new QFileDialog(this, tr("Save chart"), VideoFiles::folderExportDir(folder), QString());
    dialog->setObjectName(QStringLiteral("fd_savechart"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilters({ pngFilter(), svgFilter() });
    connect(dialog, &QFileDialog::fileSelected, this, [this, dialog](const QString &chosen) {
        writeChart(chosen, dialog->selectedNameFilter());
    });
    dialog->open();
}

void SummaryWindow::writeChart(const QString &chosen, const QString &filter)
{
    // The filter decides the format; the name gets its suffix when it lacks it.
    const bool svg = filter == svgFilter();
    const QString suffix = svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    QString path = chosen;
    if (!path.endsWith(suffix, Qt::CaseInsensitive))
        path += suffix;
    QString problem;
    if (SummaryReport::saveChart(current, bins, path,
            svg ? SummaryReport::ChartFormat::Svg : SummaryReport::ChartFormat::Png, &problem)) {
        status->setText(tr("Chart saved to %1").arg(QDir::toNativeSeparators(path)));
    } else {
        qCWarning(lcGui).noquote() << "Cannot save the chart:" << problem;
        status->setText(tr("Cannot save the chart: %1").arg(problem));
    }
}

void SummaryWindow::exportFiles()
{
    QString problem;
    if (SummaryReport::write(current, bins, &problem)) {
        status->setText(tr("Wrote summary.csv, activity.csv, activity.png and activity.svg in %1")
                            .arg(QDir::toNativeSeparators(VideoFiles::folderExportDir(folder))));
    } else {
        qCWarning(lcGui).noquote() << "Cannot export the summary:" << problem;
        status->setText(tr("Cannot export the summary: %1").arg(problem));
    }
}
