#pragma once

#include <QComboBox>
#include <QObject>
#include <QPointer>
#include <QString>

class QCheckBox;
class QEvent;
class QLabel;
class QMainWindow;
class QPushButton;
class QScrollArea;

namespace Ui {
class MainWindow;
}

// The window's controls made in code beside those of the form, and what the
// form leaves out: the counting choice and "Save tracks" (both remembered),
// "Summary" and "Review", the recording start under the file table, the
// progress and the hint in the status bar, the tips, the tab order and the
// logos.
class FormControls final : public QObject
{
    Q_OBJECT

public:
    // Made once the form's own controls are set up and enabled as at the start.
    FormControls(Ui::MainWindow &ui, QMainWindow *window, QScrollArea *page);
    Q_DISABLE_COPY(FormControls)

    // "Counting: classic / robust", beside `cb_process_conf`.
    QComboBox *counting() const { return countingChoice; }
    QCheckBox *saveTracks() const { return saveTracksBox; }
    QPushButton *summary() const { return summaryButton; }
    // "Review" beside "Summary": the review of the open video's counts.
    QPushButton *review() const { return reviewButton; }
    // Progress of a run.
    QLabel *progress() const { return progressLabel; }
    // Why "Process" is disabled.
    QLabel *processHint() const { return hintLabel; }

    // "About": the version and who made Kestrin.
    void showAbout() const;

    // Beside "Video properties": where the time stamps of `video` come
    // from; empty while no video is open.
    void showRecordingStart(const QString &video);

    // The video controls as the window shows them. Closed (also at the
    // start): no box may be edited or saved without a video, it would be
    // written under the name of the video closed last.
    void enableClosed();
    // A video shown for viewing; shifting needs both of its boxes saved.
    void enableViewing(bool shiftable);
    // A run reads its videos: only its "Cancel" stays.
    void enableRunning();
    // A run over: the controls of the video `shown`, if any, come back.
    void enableAfterRun(bool shown, bool shiftable, bool importable);

protected:
    // Keeps the counting choice enabled exactly when the processing choice is.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The controls of a shown video: playback, saving and both boxes.
    void enableVideo(bool shown, bool shiftable);
    void addResultControls();
    void addCountingChoice();
    void addStatusLabels();
    void addTips();
    void orderTabs();
    void showLogos();

    Ui::MainWindow &ui;
    QMainWindow *window;
    QScrollArea *page;
    // Read by the filter while the form is taken down.
    QPointer<QComboBox> countingChoice;
    const QObject *processChoice = nullptr; // watched for its enabled state
    QCheckBox *saveTracksBox = nullptr; // kept in the setting saveTracks
    QPushButton *summaryButton = nullptr;
    QPushButton *reviewButton = nullptr;
    QLabel *recordingLabel = nullptr;
    QLabel *progressLabel = nullptr;
    QLabel *hintLabel = nullptr;
};
