#include "formcontrols.h"

#include <algorithm>
#include <initializer_list>

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QVariant>

#include "ui_mainwindow.h"

#include "imgproc/countingmethod.h"
#include "settingsstore.h"
#include "version.h"
#include "zones/videofiles.h"

namespace {
const QString saveTracksKey = QStringLiteral("saveTracks");
const QString countingKey = QStringLiteral("countingMethod");

using Controls = std::initializer_list<QWidget *>;

void enable(bool enabled, std::initializer_list<Controls> groups)
{
    for (const Controls &group : groups) {
        for (QWidget *control : group)
            control->setEnabled(enabled);
    }
}

QPixmap logo(const QString &resource, int width, int height)
{
    const QPixmap pixmap(resource);
    if (pixmap.isNull())
        return pixmap;
    return pixmap.scaled(width, height, Qt::KeepAspectRatio, Qt::FastTransformation);
}
} // namespace

FormControls::FormControls(Ui::MainWindow &form, QMainWindow *mainWindow, QScrollArea *pageArea)
    : QObject(mainWindow)
    , ui(form)
    , window(mainWindow)
    , page(pageArea)
{
    enableClosed();
    ui.pb_Import->setEnabled(true);
    ui.la_mouse->setText(QString());
    showLogos();
    addResultControls();
    addCountingChoice();
    addStatusLabels();
    addTips();
    orderTabs();
}

void FormControls::enableClosed()
{
    enable(false,
        { { ui.pb_play_pause, ui.pushButton_2, ui.pb_fast_forward, ui.pb_slow_forward,
            ui.pb_fast_reverse, ui.pb_slow_reverse, ui.pb_algo, ui.hs_frame, ui.pb_clearmask,
            ui.pb_savemask, ui.pb_cancelmask, ui.pb_cleararea, ui.pb_savearea, ui.pb_cancelarea,
            ui.pb_movebox, ui.pb_savebox, ui.pb_cancelbox, ui.cb_process_conf, ui.tv_result } });
}

void FormControls::enableViewing(bool shiftable)
{
    enableVideo(true, shiftable);
}

void FormControls::enableRunning()
{
    enableVideo(false, false);
    enable(
        false, { { ui.cb_process_conf, ui.tv_result, ui.tv_file, ui.pb_videofile, ui.pb_Import } });
    ui.pb_algo->setEnabled(true);
}

void FormControls::enableAfterRun(bool shown, bool shiftable, bool importable)
{
    enableVideo(shown, shown && shiftable);
    enable(true, { { ui.tv_result, ui.tv_file, ui.pb_videofile } });
    ui.pb_Import->setEnabled(importable);
}

void FormControls::enableVideo(bool shown, bool shiftable)
{
    enable(shown,
        { { ui.pb_slow_reverse, ui.pb_fast_reverse, ui.pb_play_pause, ui.pb_fast_forward,
              ui.pb_slow_forward },
            { ui.pushButton_2, ui.hs_frame }, { ui.pb_clearmask, ui.pb_savemask, ui.pb_cancelmask },
            { ui.pb_cleararea, ui.pb_savearea, ui.pb_cancelarea } });
    enable(shiftable, { { ui.pb_movebox, ui.pb_savebox, ui.pb_cancelbox } });
}

void FormControls::addStatusLabels()
{
    progressLabel = new QLabel(window);
    progressLabel->setObjectName(QStringLiteral("la_progress"));
    window->statusBar()->addPermanentWidget(progressLabel);
    hintLabel = new QLabel(window);
    hintLabel->setObjectName(QStringLiteral("la_process_hint"));
    window->statusBar()->addPermanentWidget(hintLabel);
}

void FormControls::addResultControls()
{
    summaryButton = new QPushButton(tr("Summary"), ui.admin_page);
    summaryButton->setObjectName(QStringLiteral("pb_summary"));
    summaryButton->setGeometry(170, 610, 75, 23);
    summaryButton->setToolTip(tr("The counts of every video of the working directory side by "
                                 "side, and their activity over time in a chart"));
    reviewButton = new QPushButton(tr("Review"), ui.admin_page);
    reviewButton->setObjectName(QStringLiteral("pb_review"));
    reviewButton->setGeometry(190, 638, 60, 23);
    reviewButton->setToolTip(tr("Confirm or reject each event of the video shown"));

    saveTracksBox = new QCheckBox(tr("Save tracks"), ui.admin_page);
    saveTracksBox->setObjectName(QStringLiteral("cb_savetracks"));
    saveTracksBox->setGeometry(60, 640, 130, 20);
    saveTracksBox->setToolTip(
        tr("Also write each processed video's tracks to exportCSV/<name>_tracks.csv, from the "
           "next \"Process\" on"));
    saveTracksBox->setChecked(SettingsStore::open()->value(saveTracksKey, false).toBool());
    connect(saveTracksBox, &QCheckBox::toggled, this,
        [](bool on) { SettingsStore::open()->setValue(saveTracksKey, on); });
}

void FormControls::addCountingChoice()
{
    QWidget *beside = ui.cb_process_conf;
    countingChoice = new QComboBox(beside->parentWidget());
    countingChoice->setObjectName(QStringLiteral("cb_counting"));
    countingChoice->addItem(
        tr("Counting: classic"), CountingMethod::kindName(CountingMethod::Classic));
    countingChoice->addItem(
        tr("Counting: robust"), CountingMethod::kindName(CountingMethod::Robust));
    countingChoice->setToolTip(tr("classic: the counting method Kestrin has always used.\n"
                                  "robust: no identity swaps between insects passing close, no "
                                  "counts from insects hovering on the line, entries and exits "
                                  "judged from the whole approach."));
    const int saved
        = countingChoice->findData(SettingsStore::open()->value(countingKey).toString());
    countingChoice->setCurrentIndex(std::max(saved, 0));
    connect(countingChoice, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        [this] { SettingsStore::open()->setValue(countingKey, countingChoice->currentData()); });

    // In a layout, right after the processing choice; on a fixed form, in
    // the right half of its place.
    QBoxLayout *row = nullptr;
    if (QLayout *top = beside->parentWidget()->layout()) {
        QList<QLayout *> layouts { top };
        while (!layouts.isEmpty() && !row) {
            QLayout *layout = layouts.takeFirst();
            auto *box = qobject_cast<QBoxLayout *>(layout);
            if (box && box->indexOf(beside) >= 0)
                row = box;
            for (int i = 0; i < layout->count(); ++i) {
                if (QLayout *inner = layout->itemAt(i)->layout())
                    layouts.append(inner);
            }
        }
    }
    if (row) {
        row->insertWidget(row->indexOf(beside) + 1, countingChoice);
    } else {
        // Up to 4 px short of the button that follows on the form, each
        // choice wide enough for its longest item.
        const QRect place = beside->geometry();
        const int room = ui.pushButton_2->x() - 4 - place.x() - 4;
        const int first = beside->sizeHint().width();
        const int width
            = std::max(first + (room - first - countingChoice->sizeHint().width()) / 2, 0);
        beside->setGeometry(place.x(), place.y(), width, place.height());
        countingChoice->setGeometry(place.x() + width + 4, place.y(), room - width, place.height());
    }
    countingChoice->setEnabled(beside->isEnabled());
    processChoice = beside;
    beside->installEventFilter(this);
}

bool FormControls::eventFilter(QObject *watched, QEvent *event)
{
    // The form may be gone already while the window is taken down: only the
    // watched widget itself is read.
    if (countingChoice && watched == processChoice && event->type() == QEvent::EnabledChange)
        countingChoice->setEnabled(static_cast<QWidget *>(watched)->isEnabled());
    return QObject::eventFilter(watched, event);
}

void FormControls::addTips()
{
    ui.pb_Import->setToolTip(tr("Bring videos from another folder into the working directory: "
                                ".mp4 and .avi are copied, raw .h264 streams wrapped into .mp4"));
    ui.pb_videofile->setToolTip(tr("Choose the working directory: the folder of the videos"));
    ui.cb_hankview->setToolTip(tr("While processing, show the tracks of the video in progress "
                                  "and their density in a window of their own"));
    const QString draw = tr("Draw the %1: click its corners on the picture, double-click to "
                            "close it, then \"Save\". Escape cancels.");
    ui.pb_cleararea->setToolTip(draw.arg(tr("counting box (two points make a line)")));
    ui.pb_clearmask->setToolTip(draw.arg(tr("tracking box, where insects are followed")));
    ui.pb_movebox->setToolTip(tr("Shift both boxes together by dragging on the picture"));
    ui.pushButton_2->setToolTip(
        tr("Save the picture as shown (and every later one), or the full frame once"));

    recordingLabel = new QLabel(ui.admin_page);
    recordingLabel->setObjectName(QStringLiteral("la_recording"));
    const QRect table = ui.tv_file->geometry();
    recordingLabel->setGeometry(table.left() + 2, table.bottom() + 3, table.width() - 2, 16);
    const QString rule = tr("A video named video_yyyyMMdd_hhmm_NN.mp4 carries its recording "
                            "start, and its counts are stamped from it; any other video is "
                            "stamped with the time of processing.");
    recordingLabel->setToolTip(rule);
    ui.groupBox_4->setToolTip(rule);
}

void FormControls::orderTabs()
{
    // Top to bottom, left to right, as the form is read.
    const QList<QWidget *> order { ui.le_videofile, ui.pb_videofile, ui.pb_Import, ui.cb_hankview,
        ui.tv_file, ui.hs_frame, ui.cb_process_conf, countingChoice, ui.pushButton_2,
        ui.pb_slow_reverse, ui.pb_fast_reverse, ui.pb_play_pause, ui.pb_fast_forward,
        ui.pb_slow_forward, ui.pb_algo, summaryButton, saveTracksBox, reviewButton, ui.pb_about,
        ui.pb_cleararea, ui.pb_savearea, ui.pb_cancelarea, ui.pb_clearmask, ui.pb_savemask,
        ui.pb_cancelmask, ui.pb_movebox, ui.pb_savebox, ui.pb_cancelbox, ui.tv_result,
        ui.te_error };
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
    // The picture is worked with the mouse; Tab passes it by.
    ui.gv_video->setFocusPolicy(Qt::NoFocus);
    page->setFocusPolicy(Qt::NoFocus);
    ui.tv_result->setTabKeyNavigation(false);
    ui.te_error->setTabChangesFocus(true);
}

void FormControls::showLogos()
{
    const QPixmap maker = logo(QStringLiteral(":/img/logo_tolvane_521x77.png"), 240, 40);
    if (!maker.isNull())
        ui.la_imgkrn->setPixmap(maker);
    const QPixmap partner = logo(QStringLiteral(":/img/logo_qorel.png"), 122, 48);
    if (!partner.isNull())
        ui.la_imgqorel->setPixmap(partner);
}

void FormControls::showRecordingStart(const QString &video)
{
    if (video.isEmpty()) {
        recordingLabel->clear();
        return;
    }
    const QDateTime start = VideoFiles::namedRecordingStart(video);
    // Short enough for the room under the table; the tip gives the rule.
    recordingLabel->setText(start.isValid()
            ? tr("Recording start: %1").arg(start.toString(QStringLiteral("yyyy-MM-dd hh:mm")))
            : tr("Stamped at the time of processing"));
}

void FormControls::showAbout() const
{
    QMessageBox box(window);
    box.setWindowTitle(tr("About Kestrin"));
    box.setIconPixmap(window->windowIcon().pixmap(64, 64));
    box.setText(tr("Version %1 25/08/2015\n"
                   "Kestrin counts small flying insects in recorded video.\n"
                   "Made by Tolvane with Qorel.\n"
                   "For support, please contact Tolvane.")
                    .arg(kestrin::version()));
    box.exec();
}
