#pragma once

#include <QWidget>

#include "report/activitybins.h"
#include "report/foldersummary.h"

class QCheckBox;
class QComboBox;
class QFileSystemWatcher;
class QLabel;
class QPushButton;
class QKeyEvent;
class QResizeEvent;
class QStandardItemModel;
class QTableView;
class QTimer;

// The summary of the working directory's results: one table row per video
// (as summary.csv has them), the totals, and the activity chart with its bin
// width. "Save chart" writes the chart where the user chooses, in the format
// of the filter chosen; "Export" writes summary.csv, activity.csv,
// activity.png and activity.svg into exportCSV. Refreshed when files of the
// folder or its exportCSV come or go, and whenever the main window says its
// results changed. Escape closes it.
class SummaryWindow final : public QWidget
{
    Q_OBJECT

public:
    explicit SummaryWindow(QWidget *parent = nullptr);
    ~SummaryWindow() override;

    void setFolder(const QString &folder);
    const FolderSummary &summary() const { return current; }
    const ActivityBins &activity() const { return bins; }

public slots:
    // Reads the folder again now.
    void refresh();
    // Reads it again shortly: many changes in a row give one refresh.
    void scheduleRefresh();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void fillTable();
    void showChart();
    void watchFolder();
    // Asks where, through a file dialog (object name "fd_savechart"), then
    // writes the chart there.
    void saveChart();
    void writeChart(const QString &chosen, const QString &filter);
    void exportFiles();

    QString folder;
    FolderSummary current;
    ActivityBins bins;
    QStandardItemModel *model = nullptr;
    QTableView *table = nullptr;
    QLabel *totals = nullptr;
    QLabel *naming = nullptr;
    QLabel *chart = nullptr;
    QComboBox *binBox = nullptr;
    QCheckBox *reviewedBox = nullptr; // the chart shows reviewed counts
    ActivityBins computeBins() const;
    QPushButton *saveButton = nullptr;
    QPushButton *exportButton = nullptr;
    QLabel *status = nullptr;
    QFileSystemWatcher *watcher = nullptr;
    QTimer *refreshTimer = nullptr;
};
