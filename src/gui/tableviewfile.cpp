#include "tableviewfile.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QList>
#include <QMenu>
#include <QMessageBox>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTableView>

#include "logging.h"
#include "zones/areacontour.h"
#include "zones/videofiles.h"

namespace {
constexpr int fileColumn = 0;

QString yesNo(bool yes)
{
    return yes ? QStringLiteral("Y") : QStringLiteral("N");
}

// Both boxes saved, each with enough points to be a box.
QString maskState(const QString &videoPath)
{
    return yesNo(TableViewFile::hasUsableBoxes(videoPath));
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

void TableViewFile::setConfirmation(std::function<bool(const QString &)> confirmation)
{
    confirm = std::move(confirmation);
}

bool TableViewFile::hasUsableBoxes(const QString &videoPath)
{
    return AreaContour::savedBoxes(videoPath).has_value();
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

QStringList TableViewFile::videosWithoutCounts() const
{
    QStringList without;
    for (int i = 0; i < paths.size(); ++i) {
        if (!counted.at(i))
            without.append(paths.at(i));
    }
    return without;
}

bool TableViewFile::hasMask(const QString &path) const
{
    for (int i = 0; i < paths.size(); ++i) {
        if (paths.at(i) == path && maskStates.at(i) == QLatin1String("Y"))
            return true;
    }
    return false;
}

void TableViewFile::showPath(const QString &path)
{
    quiet = true;
    const int row = paths.indexOf(path);
    if (row >= 0)
        view->setCurrentIndex(model->index(row, fileColumn));
    else
        view->selectionModel()->clear();
    quiet = false;
}

void TableViewFile::currentRowChanged(const QModelIndex &current, const QModelIndex &)
{
    if (!quiet)
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
    deleteChosen(&VideoFiles::resultFile, tr("Delete the counts of %1?"));
}

void TableViewFile::DeleteMask()
{
    deleteChosen(&VideoFiles::maskFile, tr("Delete the tracking box of %1?"));
}

void TableViewFile::deleteChosen(
    QString (*fileOf)(const QString &videoPath), const QString &question)
{
    if (menuIndex.row() < 0 || menuIndex.column() < 0)
        return;
    const QVariant value = menuIndex.data(Qt::DisplayRole);
    // Only the "File" cell names a video: a "Y" or "N" cell would otherwise
    // delete the files of a video that happens to be called Y or N.
    if (value.isValid() && menuIndex.column() == fileColumn) {
        const QString name = value.toString();
        QStringList doomed;
        for (int i = 0; i < baseNames.size(); ++i) {
            if (baseNames.at(i) == name && QFileInfo::exists(fileOf(paths.at(i))))
                doomed << fileOf(paths.at(i));
        }
        if (!doomed.isEmpty() && ask(question.arg(name))) {
            for (const QString &file : doomed) {
                QFile removed(file);
                if (!removed.remove())
                    qCWarning(lcGui) << "Cannot delete" << file << removed.errorString();
            }
        }
    }
    refresh();
}

bool TableViewFile::ask(const QString &question) const
{
    if (confirm)
        return confirm(question);
    return QMessageBox::question(menuParent, tr("Delete"), question) == QMessageBox::Yes;
}

void TableViewFile::fill()
{
    paths.clear();
    maskStates.clear();
    counted.clear();
    baseNames.clear();

    for (const QString &path : VideoFiles::listVideos(directory)) {
        paths.append(path);
        maskStates.append(maskState(path));
        counted.append(VideoFiles::counted(path));
        baseNames.append(VideoFiles::baseName(path));
    }

    model->clear();
    setHeaders();
    for (int i = 0; i < paths.size(); ++i) {
        auto *name = new QStandardItem(baseNames.at(i));
        // A long name is cut by the column: the tip shows it whole.
        name->setToolTip(QFileInfo(paths.at(i)).fileName());
        model->insertRow(i,
            QList<QStandardItem *> { name, new QStandardItem(maskStates.at(i)),
                new QStandardItem(yesNo(counted.at(i))) });
    }

    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab goes on to the next control; the arrows move between rows.
    view->setTabKeyNavigation(false);
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
    // The name takes what the row numbers and the two states leave, so that
    // nothing scrolls sideways; a long name is cut in its middle, where the
    // recording's date and time are alike, and shown whole in its tip.
    view->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    view->setTextElideMode(Qt::ElideMiddle);
}
