#include "filedialogprovider.h"

#include <algorithm>

#include <QFileDialog>
#include <QMessageBox>
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

QString FileDialogProvider::saveImageName(
    const QString &caption, const QStringList &filters, int &chosen)
{
    QString selected = filters.value(chosen);
    const QString file = QFileDialog::getSaveFileName(
        nullptr, caption, QString(), filters.join(QStringLiteral(";;")), &selected);
    chosen = std::max(0, static_cast<int>(filters.indexOf(selected)));
    return file;
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
