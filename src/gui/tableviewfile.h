#pragma once

#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QString>
#include <QStringList>

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
    // Full path of the video in `row`; empty for a row outside the list.
    QString filePath(int row) const;
    // True when the listed video at exactly `path` has both box files.
    bool hasMask(const QString &path) const;

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
    void deleteChosen(QString (*fileOf)(const QString &videoPath));

    QTableView *view;
    QStandardItemModel *model;
    QWidget *menuParent;
    QString directory;
    // Parallel lists: entry i of each belongs to model row i.
    QStringList paths;
    QStringList maskStates;
    QStringList doneStates;
    QStringList baseNames;
    // Persistent, so that a menu left open across a refilling of the table
    // cannot act on whatever video has moved into the clicked row since.
    QPersistentModelIndex menuIndex;
    QPointer<QMenu> menu;
};
