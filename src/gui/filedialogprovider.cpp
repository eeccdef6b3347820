#include "filedialogprovider.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTreeView>

FileDialogProvider::~FileDialogProvider() = default;

QString FileDialogProvider::existingDirectory(const QString &start)
{
    QFileDialog dialog(nullptr, QString(), QString(), QString());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setViewMode(QFileDialog::Detail);
    // Only the dialog drawn by Qt itself has a tree; a native one has its own.
    if (auto *tree = dialog.findChild<QTreeView *>()) {
        tree->setRootIsDecorated(true);
        tree->setItemsExpandable(true);
    }
    dialog.setDirectory(start);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

QString FileDialogProvider::saveFileName(
    const QString &caption, const QString &dir, const QString &filter)
{
    return QFileDialog::getSaveFileName(nullptr, caption, dir, filter);
}

bool FileDialogProvider::question(QWidget *parent, const QString &title, const QString &text)
{
    return QMessageBox::question(
               parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        == QMessageBox::Yes;
}

void FileDialogProvider::warning(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::warning(parent, title, text);
}
