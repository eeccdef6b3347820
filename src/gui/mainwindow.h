#pragma once

#include <memory>

#include <QMainWindow>
#include <QString>

#include "formcontrols.h"
#include "formpage.h"
#include "imgproc/result.h"
#include "playback.h"
#include "run/rundriver.h"
#include "runpanel.h"
#include "workingfolder.h"
#include "zoneeditor.h"

class FileDialogProvider;
class QMouseEvent;
class QPushButton;
class QCloseEvent;
class QKeyEvent;
class QShowEvent;
class ResultWindows;
class TableViewFile;
class TableViewResult;

namespace Ui {
class MainWindow;
}

// The one window of Kestrin: the working directory and its videos, the video
// view, the list of counts, and the controls of playback, processing and zone
// editing. Its slots hand the work to its parts: Playback shows the video on
// the ticks of its timer, ZoneEditor edits the boxes, RunPanel runs
// "Process", WorkingFolder keeps the directory, FormControls and FormPage
// make what the form leaves out; the window switches them between modes.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    // The states of the window's controls.
    enum statemode { ModeClosed = 0, ModeView, ModeProcess, ModeProcessEnd, ModeProcessCancel };
    Q_ENUM(statemode)

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Replaces the file dialogs (the default shows the real ones).
    void setFileDialogs(std::unique_ptr<FileDialogProvider> dialogs);

    // Size of the form; the window keeps it on a screen with room for it.
    static constexpr int formWidth = 1200;
    static constexpr int formHeight = 710;
    // Fits the window into `available` (a screen's available geometry): the
    // form's fixed size where it fits, else a smaller window whose form
    // scrolls. Done on the first show for the window's screen.
    void fitTo(const QRect &available) { page->fitTo(available); }

private slots:
    // Most slots hand the work to a part as it is.
    void filename_videofile_change();
    void set_filename_videofile();
    void timeframe() { playback->tick(); }
    void play_pause_video() { playback->togglePlay(); }
    void fast_forward() { playback->step(Playback::Command::FastForward); }
    void slow_forward() { playback->step(Playback::Command::SlowForward); }
    void fast_reverse() { playback->step(Playback::Command::FastReverse); }
    void slow_reverse() { playback->step(Playback::Command::SlowReverse); }
    void hs_frame_moved(int iPos);
    void algo();
    void sendMousePressVideo(QMouseEvent *e);
    void sendMouseBClickVideo(QMouseEvent *e);
    void sendMouseMoveVideo(QMouseEvent *e);
    void cleararea() { zoneEditor->clearBox(ZoneEditor::Box::Counting); }
    void savearea() { zoneEditor->saveBox(ZoneEditor::Box::Counting); }
    void cancelarea() { zoneEditor->cancelBox(ZoneEditor::Box::Counting); }
    void clearmask() { zoneEditor->clearBox(ZoneEditor::Box::Tracking); }
    void savemask() { zoneEditor->saveBox(ZoneEditor::Box::Tracking); }
    void cancelmask() { zoneEditor->cancelBox(ZoneEditor::Box::Tracking); }
    void Import();
    void AddResult(const Result &result) { runPanel->addResult(result); }
    void ClearResult() { runPanel->clearResults(); }
    void File_Row_Changed(int ifile);
    void Result_Row_Changed(int irow);
    void Add_Insect_detected(int frame, int x, int y, int in, int out);
    void ModeVideo(statemode mode);
    void about() { controls->showAbout(); }
    void on_pushButton_2_clicked();
    void on_pb_movebox_clicked() { zoneEditor->startShift(); }
    void on_pb_savebox_clicked() { zoneEditor->saveShift(); }
    void on_pb_cancelbox_clicked() { zoneEditor->cancelShift(); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // Closing mid-run stops the run between two frames and takes the
    // trajectory window along, so that the program can end.
    void closeEvent(QCloseEvent *event) override;
    // The window follows the screen it is put on (see fitTo).
    void showEvent(QShowEvent *event) override;

private:
    friend class TestMainWindow;
    friend class PlaybackFixture;
    friend class TestZoneEditing;
    friend class TestProcessing;

    // The open video's files read again after the table was relisted.
    void reloadVideoFiles();
    // The table's highlighted row back on the open video after a relisting.
    void showOpenVideoRow();
    // Why "Process" cannot start now; empty when it can.
    QString processBlockReason() const;
    // Enables "Process" or says, in its tip and the status bar, why not.
    void updateProcessButton();
    void showVideoProperties();
    bool openVideo(int startFrame);
    void closeVideo();

    // The run's tick that opens the next queued video, or ends the run.
    void nextFile();
    // A video of the run ended: the run goes on with the next one.
    void videoEnded(const RunDriver::VideoEnd &end);
    // Marks the listed events with the review's decisions.
    void markReviewed();

    std::unique_ptr<Ui::MainWindow> ui;
    QString videoFile; // the current video, "/" as separator
    WorkingFolder *folder = nullptr;
    QString processStartFile; // the video current when processing started
    // The video viewed, and the boxes edited on it.
    Playback *playback = nullptr;
    ZoneEditor *zoneEditor = nullptr;
    // The run, the list of counts and the trajectory window.
    RunPanel *runPanel = nullptr;
    TableViewFile *fileTable = nullptr;
    TableViewResult *resultTable = nullptr;
    std::unique_ptr<FileDialogProvider> fileDialogs;
    // What "Summary" and "Review" open.
    ResultWindows *resultWindows = nullptr;
    FormPage *page = nullptr; // holds the form; scrolls on a small screen
    FormControls *controls = nullptr; // the controls made in code
};
