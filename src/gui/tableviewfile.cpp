#include "tableviewfile.h"

#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QList>
#include <QMenu>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTableView>

#include "videofiles.h"

namespace {
constexpr int fileColumn = 0;

QString yesNo(bool yes)
{
    return yes ? QStringLiteral("Y") : QStringLiteral("N");
}

// Both boxes saved; the tracking box counts only with a counting box.
QString maskState(const QString &videoPath)
{
    return yesNo(QFileInfo::exists(VideoFiles::areaFile(videoPath))
        && QFileInfo::exists(VideoFiles::maskFile(videoPath)));
}

QString doneState(const QString &videoPath)
{
    return yesNo(QFileInfo::exists(VideoFiles::resultFile(videoPath)));
}
} // namespace

TableViewFile::TableViewFile(QTableView *view, QWidget *menuParent, QObject *parent)
    : QObject(parent)
    , view(view)
    , model(new QStandardItemModel(0, 3, this))
    , menuParent(menuParent)
{
    setHeaders();
}

TableViewFile::~TableViewFile()
{
    delete menu;
}

void TableViewFile::setDirectory(const QString &dir)
{
    directory = dir;
    fill();
}

void TableViewFile::refresh()
{
    const int row = view->currentIndex().row();
    fill();
    // Clearing the model left no current row, so a row that still exists
    // becomes current with a change notification.
    view->setCurrentIndex(model->index(row, fileColumn));
}

QString TableViewFile::filePath(int row) const
{
    return paths.value(row);
}

bool TableViewFile::hasMask(const QString &path) const
{
    for (int i = 0; i < paths.size(); ++i) {
        if (paths.at(i) == path && maskStates.at(i) == QLatin1String("Y"))
            return true;
    }
    return false;
}

void TableViewFile::currentRowChanged(const QModelIndex &current, const QModelIndex &)
{
    emit File_Row_Changed(current.row());
}

void TableViewFile::customMenuRequested(const QPoint &pos)
{
    menuIndex = view->indexAt(pos);
    delete menu;
    menu = new QMenu(menuParent);
    menu->addAction(tr("Delete Result"), this, &TableViewFile::DeleteResult);
    menu->addAction(tr("Delete Mask"), this, &TableViewFile::DeleteMask);
    menu->popup(view->viewport()->mapToGlobal(pos));
}

void TableViewFile::DeleteResult()
{
    deleteChosen(&VideoFiles::resultFile);
}

void TableViewFile::DeleteMask()
{
    deleteChosen(&VideoFiles::maskFile);
}

void TableViewFile::deleteChosen(QString (*fileOf)(const QString &videoPath))
{
    if (menuIndex.row() < 0 || menuIndex.column() < 0)
        return;
    const QVariant value = menuIndex.data(Qt::DisplayRole);
    // Only the "File" cell names a video: a "Y" or "N" cell would otherwise
    // delete the files of a video that happens to be called Y or N.
    if (value.isValid() && menuIndex.column() == fileColumn) {
        const QString name = value.toString();
        for (int i = 0; i < baseNames.size(); ++i) {
            if (baseNames.at(i) == name)
                QFile::remove(fileOf(paths.at(i)));
        }
    }
    refresh();
}

void TableViewFile::fill()
{
    paths.clear();
    maskStates.clear();
    doneStates.clear();
    baseNames.clear();

    for (const QString &path : VideoFiles::listVideos(directory)) {
        paths.append(path);
        maskStates.append(maskState(path));
        doneStates.append(doneState(path));
        baseNames.append(VideoFiles::baseName(path));
    }

    model->clear();
    setHeaders();
    for (int i = 0; i < paths.size(); ++i) {
        model->insertRow(i,
            QList<QStandardItem *> { new QStandardItem(baseNames.at(i)),
                new QStandardItem(maskStates.at(i)), new QStandardItem(doneStates.at(i)) });
    }

    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    // However often the table is filled, each notification arrives once.
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        &TableViewFile::currentRowChanged, Qt::UniqueConnection);
    connect(view, &QWidget::customContextMenuRequested, this, &TableViewFile::customMenuRequested,
        Qt::UniqueConnection);
}

void TableViewFile::setHeaders()
{
    model->setHorizontalHeaderItem(0, new QStandardItem(tr("File")));
    model->setHorizontalHeaderItem(1, new QStandardItem(tr("mask")));
    model->setHorizontalHeaderItem(2, new QStandardItem(tr("done")));
    if (view->model() != model)
        view->setModel(model);
    view->setColumnWidth(0, 160);
    view->setColumnWidth(1, 40);
    view->setColumnWidth(2, 40);
}
