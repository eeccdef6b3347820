#pragma once

#include <functional>
#include <vector>

#include <opencv2/core/types.hpp>

#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

class QMenu;
class QModelIndex;
class QPoint;
class QStandardItemModel;
class QTableView;
class QWidget;

// Lists the *.mp4 videos of the working directory in a table view with the
// state of their box files ("mask") and result file ("done"), reports the
// current row, and offers a context menu that deletes a video's result file or
// tracking box file. Drives the view it is given; owns only the model.
class TableViewFile final : public QObject
{
    Q_OBJECT

public:
    // The view belongs to the caller; menuParent parents the context menu.
    TableViewFile(QTableView *view, QWidget *menuParent, QObject *parent = nullptr);
    ~TableViewFile() override;

    // Lists `dir` again; no row is current afterwards and nothing is emitted.
    void setDirectory(const QString &dir);
    // Lists the directory again and makes the row at the previous current
    // position current once more (emitting File_Row_Changed for it).
    void refresh();
    // Makes the row of `path` current, or none when it is not listed,
    // without emitting File_Row_Changed: the table follows the window.
    void showPath(const QString &path);
    // Full path of the video in `row`; empty for a row outside the list.
    QString filePath(int row) const;
    // Every listed video, in table order.
    const QStringList &videos() const { return paths; }
    // Those without a count file as the "done" column shows them: read when
    // the table was last listed.
    QStringList videosWithoutCounts() const;
    // True when the listed video at exactly `path` has both boxes saved.
    bool hasMask(const QString &path) const;

    // Asked before a file is deleted, with a question naming the video;
    // true goes ahead. The default asks in a message box.
    void setConfirmation(std::function<bool(const QString &question)> confirm);

    // Both box files of the video hold a usable box: the "mask" column's "Y".
    static bool hasUsableBoxes(const QString &videoPath);

signals:
    void File_Row_Changed(int ifile);

private slots:
    void currentRowChanged(const QModelIndex &current, const QModelIndex &previous);
    void customMenuRequested(const QPoint &pos);
    void DeleteResult();
    void DeleteMask();

private:
    void fill();
    void setHeaders();
    bool ask(const QString &question) const;
    void deleteChosen(QString (*fileOf)(const QString &videoPath), const QString &question);

    QTableView *view;
    QStandardItemModel *model;
    QWidget *menuParent;
    QString directory;
    // Parallel lists: entry i of each belongs to model row i.
    QStringList paths;
    QStringList maskStates;
    QVector<bool> counted; // the "done" column
    QStringList baseNames;
    // Persistent, so that a menu left open across a refilling of the table
    // cannot act on whatever video has moved into the clicked row since.
    QPersistentModelIndex menuIndex;
    QPointer<QMenu> menu;
    std::function<bool(const QString &)> confirm;
    bool quiet = false; // showPath at work
};
