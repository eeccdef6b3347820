#include <memory>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "tableviewfile.h"

namespace {

// Creates the file, empty; a box file gets a box that is usable, unless
// `content` says what it holds.
bool touch(const QString &path, const QByteArray &content = QByteArray("-"))
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = content;
    if (text == "-") {
        text.clear();
        if (path.endsWith(QLatin1String("_area.krn")))
            text = "10,20\n30,40\n";
        else if (path.endsWith(QLatin1String("_mask.krn")))
            text = "1,2\n300,2\n150,200\n";
    }
    return file.write(text) == text.size();
}

// Counts the children a widget gains, here: the context menus made for it.
class ChildCounter final : public QObject
{
public:
    int added = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded)
            ++added;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class TestTableViewFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void constructionShowsHeaders();
    void listsMp4IgnoringCase();
    void states_data();
    void states();
    void hasMaskNeedsExactPath();
    void dottedBaseName();
    void emptyOrMissingDirectory_data();
    void emptyOrMissingDirectory();
    void deleteMaskOnCurrentRow();
    void deleteResultKeepsOtherFiles();
    void deletionAsksFirst_data();
    void deletionAsksFirst();
    void unusableBoxes_data();
    void unusableBoxes();
    void menuBelowLastRowDoesNothing();
    void stateCellNamesNoVideo();
    void staleMenuDeletesNothing();
    void refreshAfterCurrentVideoDeleted();
    void setDirectoryNeverEmits();
    void manyFillingsOneSignalPerChange();
    void modelStaysConsistent();

private:
    QString video(const QString &name) const { return m_dir->filePath(name); }
    QString exported(const QString &name) const
    {
        return m_dir->filePath(QStringLiteral("exportCSV/") + name);
    }
    QStringList column(int col) const;
    int rowOf(const QString &baseName) const;
    void clickRow(int row);
    QMenu *openMenuAt(const QPoint &viewportPos);
    void chooseFromMenu(QMenu *menu, const QString &text);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QWidget> m_host;
    QTableView *m_view = nullptr;
    TableViewFile *m_table = nullptr;
    // The answer to every deletion question, and the questions asked.
    bool m_answer = true;
    QStringList m_questions;
};

void TestTableViewFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_host = std::make_unique<QWidget>();
    m_host->resize(400, 400);
    m_view = new QTableView(m_host.get());
    m_view->setGeometry(5, 5, 281, 300);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table = new TableViewFile(m_view, m_host.get(), m_host.get());
    m_answer = true;
    m_questions.clear();
    m_table->setConfirmation([this](const QString &question) {
        m_questions << question;
        return m_answer;
    });
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
}

void TestTableViewFile::cleanup()
{
    m_host.reset();
    m_dir.reset();
}

QStringList TestTableViewFile::column(int col) const
{
    QStringList texts;
    const QAbstractItemModel *model = m_view->model();
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, col).data().toString();
    return texts;
}

int TestTableViewFile::rowOf(const QString &baseName) const
{
    return column(0).indexOf(baseName);
}

void TestTableViewFile::clickRow(int row)
{
    const QRect cell = m_view->visualRect(m_view->model()->index(row, 0));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, cell.center());
}

QMenu *TestTableViewFile::openMenuAt(const QPoint &viewportPos)
{
    const int before = m_host->findChildren<QMenu *>().size();
    QContextMenuEvent event(
        QContextMenuEvent::Mouse, viewportPos, m_view->viewport()->mapToGlobal(viewportPos));
    QApplication::sendEvent(m_view->viewport(), &event);
    const QList<QMenu *> menus = m_host->findChildren<QMenu *>();
    // The previous menu is replaced, not kept.
    if (menus.size() != 1 || before > 1)
        return nullptr;
    return menus.first();
}

void TestTableViewFile::chooseFromMenu(QMenu *menu, const QString &text)
{
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QAction *chosen = nullptr;
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            chosen = action;
    }
    QVERIFY(chosen);
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
    QTRY_VERIFY(!menu->isVisible());
}

void TestTableViewFile::constructionShowsHeaders()
{
    const QAbstractItemModel *model = m_view->model();
    QVERIFY(model);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->columnCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("File"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("mask"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("done"));
    // The name column takes the room the states leave, at least its 160.
    QVERIFY(m_view->columnWidth(0) >= 160);
    QCOMPARE(m_view->columnWidth(1), 40);
    QCOMPARE(m_view->columnWidth(2), 40);
    QCOMPARE(m_view->horizontalScrollBar()->maximum(), 0);
    QVERIFY(m_table->filePath(0).isEmpty());
}

void TestTableViewFile::listsMp4IgnoringCase()
{
    QVERIFY(touch(video(QStringLiteral("a.mp4"))));
    QVERIFY(touch(video(QStringLiteral("B.MP4"))));
    QVERIFY(touch(video(QStringLiteral("c.avi"))));
    QVERIFY(touch(video(QStringLiteral("d.Mp4"))));
    QVERIFY(touch(video(QStringLiteral(".hidden.mp4"))));
    QVERIFY(touch(video(QStringLiteral("e.mp4.txt"))));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.mp4")));
    QVERIFY(touch(video(QStringLiteral("folder.mp4/inner.mp4"))));
    QVERIFY(QFile::link(video(QStringLiteral("a.mp4")), video(QStringLiteral("link.mp4"))));

    m_table->setDirectory(m_dir->path());
    QStringList names = column(0);
    names.sort();
    QCOMPARE(
        names, (QStringList { QStringLiteral("B"), QStringLiteral("a"), QStringLiteral("d") }));

    // The lists run parallel to the rows.
    for (int row = 0; row < names.size(); ++row) {
        const QString path = m_table->filePath(row);
        QCOMPARE(QFileInfo(path).path(), m_dir->path());
        QVERIFY(path.startsWith(m_dir->path() + QLatin1Char('/')));
        QCOMPARE(QFileInfo(path).completeBaseName(), column(0).at(row));
        QVERIFY(QFileInfo(path).isFile());
    }
    QVERIFY(m_table->filePath(3).isEmpty());
    QVERIFY(m_table->filePath(-1).isEmpty());

    QCOMPARE(m_view->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(m_view->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(m_view->contextMenuPolicy(), Qt::CustomContextMenu);
    QVERIFY(m_view->columnWidth(0) >= 160);
    QCOMPARE(m_view->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("done"));
    QCOMPARE(m_view->editTriggers(), QAbstractItemView::NoEditTriggers);
}

void TestTableViewFile::states_data()
{
    QTest::addColumn<bool>("area");
    QTest::addColumn<bool>("mask");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("maskState");
    QTest::addColumn<QString>("doneState");

    QTest::newRow("nothing") << false << false << false << "N"
                             << "N";
    QTest::newRow("counting box only") << true << false << false << "N"
                                       << "N";
    QTest::newRow("tracking box only") << false << true << false << "N"
                                       << "N";
    QTest::newRow("both boxes") << true << true << false << "Y"
                                << "N";
    QTest::newRow("result only") << false << false << true << "N"
                                 << "Y";
    QTest::newRow("everything") << true << true << true << "Y"
                                << "Y";
}

void TestTableViewFile::states()
{
    QFETCH(bool, area);
    QFETCH(bool, mask);
    QFETCH(bool, result);
    QFETCH(QString, maskState);
    QFETCH(QString, doneState);

    QVERIFY(touch(video(QStringLiteral("v.mp4"))));
    // A neighbour with every file must not colour this video's states.
    QVERIFY(touch(video(QStringLiteral("w.mp4"))));
    for (const char *name : { "w_area.krn", "w_mask.krn", "w.csv" })
        QVERIFY(touch(exported(QString::fromLatin1(name))));
    if (area)
        QVERIFY(touch(exported(QStringLiteral("v_area.krn"))));
    if (mask)
        QVERIFY(touch(exported(QStringLiteral("v_mask.krn"))));
    if (result)
        QVERIFY(touch(exported(QStringLiteral("v.csv"))));

    m_table->setDirectory(m_dir->path());
    const int row = rowOf(QStringLiteral("v"));
    QVERIFY(row >= 0);
    QCOMPARE(column(1).at(row), maskState);
    QCOMPARE(column(2).at(row), doneState);
    QCOMPARE(m_table->hasMask(m_table->filePath(row)), maskState == QLatin1String("Y"));
    QCOMPARE(column(1).at(rowOf(QStringLiteral("w"))), QStringLiteral("Y"));
}

void TestTableViewFile::hasMaskNeedsExactPath()
{
    QVERIFY(touch(video(QStringLiteral("v.mp4"))));
    QVERIFY(touch(exported(QStringLiteral("v_area.krn"))));
    QVERIFY(touch(exported(QStringLiteral("v_mask.krn"))));
    m_table->setDirectory(m_dir->path());

    const QString path = m_table->filePath(0);
    QVERIFY(m_table->hasMask(path));
    QVERIFY(!m_table->hasMask(path.toUpper()));
    QVERIFY(!m_table->hasMask(video(QStringLiteral("other.mp4"))));
    QVERIFY(!m_table->hasMask(QString()));
}

void TestTableViewFile::dottedBaseName()
{
    QVERIFY(touch(video(QStringLiteral("x.y.mp4"))));
    QVERIFY(touch(video(QStringLiteral("x.mp4"))));
    for (const char *name :
        { "x.y_area.krn", "x.y_mask.krn", "x.y.csv", "x_area.krn", "x_mask.krn", "x.csv" })
        QVERIFY(touch(exported(QString::fromLatin1(name))));
    m_table->setDirectory(m_dir->path());
    const int row = rowOf(QStringLiteral("x.y"));
    QVERIFY(row >= 0);
    QCOMPARE(column(1).at(row), QStringLiteral("Y"));
    QCOMPARE(column(2).at(row), QStringLiteral("Y"));

    QMenu *menu = openMenuAt(m_view->visualRect(m_view->model()->index(row, 0)).center());
    QVERIFY(menu);
    chooseFromMenu(menu, QStringLiteral("Delete Mask"));
    QVERIFY(!QFile::exists(exported(QStringLiteral("x.y_mask.krn"))));
    QVERIFY(QFile::exists(exported(QStringLiteral("x.y_area.krn"))));
    QVERIFY(QFile::exists(exported(QStringLiteral("x_mask.krn"))));

    menu = openMenuAt(m_view->visualRect(m_view->model()->index(rowOf("x.y"), 0)).center());
    QVERIFY(menu);
    chooseFromMenu(menu, QStringLiteral("Delete Result"));
    QVERIFY(!QFile::exists(exported(QStringLiteral("x.y.csv"))));
    QVERIFY(QFile::exists(exported(QStringLiteral("x.csv"))));
    QCOMPARE(column(1).at(rowOf(QStringLiteral("x"))), QStringLiteral("Y"));
    QCOMPARE(column(2).at(rowOf(QStringLiteral("x"))), QStringLiteral("Y"));
}

void TestTableViewFile::emptyOrMissingDirectory_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<bool>("empty");

    QTest::newRow("empty path") << QString() << true;
    QTest::newRow("missing folder") << QStringLiteral("no/such/folder") << false;
    QTest::newRow("a file, not a folder") << QStringLiteral("plain.mp4") << false;
}

void TestTableViewFile::emptyOrMissingDirectory()
{
    QFETCH(QString, relative);
    QFETCH(bool, empty);

    QVERIFY(touch(video(QStringLiteral("plain.mp4"))));
    m_table->setDirectory(m_dir->path());
    QCOMPARE(m_view->model()->rowCount(), 1);

    // Videos in the process's current directory stay out of an empty path.
    const QString previousCurrent = QDir::currentPath();
    QDir::setCurrent(m_dir->path());
    m_table->setDirectory(empty ? QString() : m_dir->filePath(relative));
    QDir::setCurrent(previousCurrent);
    QCOMPARE(m_view->model()->rowCount(), 0);
    QCOMPARE(m_view->model()->columnCount(), 3);
    QCOMPARE(m_view->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("File"));
    QVERIFY(m_table->filePath(0).isEmpty());
}

void TestTableViewFile::deleteMaskOnCurrentRow()
{
    for (const char *name : { "a", "b", "c" }) {
        const QString base = QString::fromLatin1(name);
        QVERIFY(touch(video(base + QStringLiteral(".mp4"))));
        QVERIFY(touch(exported(base + QStringLiteral("_area.krn"))));
        QVERIFY(touch(exported(base + QStringLiteral("_mask.krn"))));
        QVERIFY(touch(exported(base + QStringLiteral(".csv"))));
    }
    m_table->setDirectory(m_dir->path());
    QSignalSpy spy(m_table, &TableViewFile::File_Row_Changed);
    clickRow(1);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.takeFirst().first().toInt(), 1);
    const QString name = column(0).at(1);

    QMenu *menu = openMenuAt(m_view->visualRect(m_view->model()->index(1, 0)).center());
    QVERIFY(menu);
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions.at(0)->text(), QStringLiteral("Delete Result"));
    QCOMPARE(actions.at(1)->text(), QStringLiteral("Delete Mask"));
    QVERIFY(actions.at(0)->shortcut().isEmpty() && actions.at(1)->shortcut().isEmpty());
    chooseFromMenu(menu, QStringLiteral("Delete Mask"));

    QCOMPARE(column(1).at(1), QStringLiteral("N"));
    QCOMPARE(column(2).at(1), QStringLiteral("Y"));
    QCOMPARE(m_view->currentIndex().row(), 1);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().first().toInt(), 1);
    QVERIFY(!QFile::exists(exported(name + QStringLiteral("_mask.krn"))));
    QVERIFY(QFile::exists(exported(name + QStringLiteral("_area.krn"))));
    QVERIFY(!m_table->hasMask(m_table->filePath(1)));
    for (int row : { 0, 2 })
        QCOMPARE(column(1).at(row), QStringLiteral("Y"));
}

void TestTableViewFile::deleteResultKeepsOtherFiles()
{
    QVERIFY(touch(video(QStringLiteral("a.mp4"))));
    const QStringList kept { QStringLiteral("a_area.krn"), QStringLiteral("a_mask.krn"),
        QStringLiteral("a_doza.jpg"), QStringLiteral("a_doza.txt") };
    for (const QString &name : kept)
        QVERIFY(touch(exported(name)));
    QVERIFY(touch(exported(QStringLiteral("a.csv"))));
    m_table->setDirectory(m_dir->path());
    QCOMPARE(column(2), QStringList { QStringLiteral("Y") });
    // A view that regains keyboard focus from the closed menu would make its
    // first row current on its own; only the refresh is looked at here.
    m_view->clearFocus();
    m_view->setFocusPolicy(Qt::NoFocus);

    QSignalSpy spy(m_table, &TableViewFile::File_Row_Changed);
    QMenu *menu = openMenuAt(m_view->visualRect(m_view->model()->index(0, 0)).center());
    QVERIFY(menu);
    chooseFromMenu(menu, QStringLiteral("Delete Result"));
    QCOMPARE(column(2), QStringList { QStringLiteral("N") });
    QCOMPARE(column(1), QStringList { QStringLiteral("Y") });
    QVERIFY(!QFile::exists(exported(QStringLiteral("a.csv"))));
    for (const QString &name : kept)
        QVERIFY2(QFile::exists(exported(name)), qPrintable(name));
    // No row was current before, so none is after, and nothing was emitted.
    QVERIFY(!m_view->currentIndex().isValid());
    QCOMPARE(spy.size(), 0);

    // Deleting again is silent: the file is already gone.
    menu = openMenuAt(m_view->visualRect(m_view->model()->index(0, 0)).center());
    QVERIFY(menu);
    chooseFromMenu(menu, QStringLiteral("Delete Result"));
    QCOMPARE(column(2), QStringList { QStringLiteral("N") });
}

void TestTableViewFile::deletionAsksFirst_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("answer");

    QTest::newRow("result, yes") << "Delete Result"
                                 << "clip.csv" << true;
    QTest::newRow("result, no") << "Delete Result"
                                << "clip.csv" << false;
    QTest::newRow("mask, yes") << "Delete Mask"
                               << "clip_mask.krn" << true;
    QTest::newRow("mask, no") << "Delete Mask"
                              << "clip_mask.krn" << false;
}

void TestTableViewFile::deletionAsksFirst()
{
    QFETCH(QString, action);
    QFETCH(QString, file);
    QFETCH(bool, answer);

    QVERIFY(touch(video(QStringLiteral("clip.mp4"))));
    for (const char *name : { "clip_area.krn", "clip_mask.krn", "clip.csv" })
        QVERIFY(touch(exported(QString::fromLatin1(name))));
    m_table->setDirectory(m_dir->path());
    m_answer = answer;

    QMenu *menu = openMenuAt(m_view->visualRect(m_view->model()->index(0, 0)).center());
    QVERIFY(menu);
    chooseFromMenu(menu, action);
    // One question, naming the video; the file goes only on a yes.
    QCOMPARE(m_questions.size(), 1);
    QVERIFY2(m_questions.first().contains(QLatin1String("clip")), qPrintable(m_questions.first()));
    QCOMPARE(QFile::exists(exported(file)), !answer);

    // Nothing left to delete: nothing is asked.
    if (answer) {
        menu = openMenuAt(m_view->visualRect(m_view->model()->index(0, 0)).center());
        QVERIFY(menu);
        chooseFromMenu(menu, action);
        QCOMPARE(m_questions.size(), 1);
    }
}

void TestTableViewFile::unusableBoxes_data()
{
    QTest::addColumn<QByteArray>("area");
    QTest::addColumn<QByteArray>("mask");
    QTest::addColumn<QString>("maskState");

    const QByteArray line("10,20\n30,40\n");
    const QByteArray triangle("1,2\n300,2\n150,200\n");
    QTest::newRow("line and triangle") << line << triangle << "Y";
    QTest::newRow("closed triangles") << QByteArray("1,1\n9,1\n5,8\n1,1\n") << triangle << "Y";
    QTest::newRow("empty counting box") << QByteArray() << triangle << "N";
    QTest::newRow("empty tracking box") << line << QByteArray() << "N";
    QTest::newRow("one point as a line") << QByteArray("5,5\n5,5\n") << triangle << "N";
    QTest::newRow("tracking box of two points") << line << QByteArray("1,2\n300,2\n") << "N";
    QTest::newRow("tracking box of one point thrice")
        << line << QByteArray("1,2\n1,2\n1,2\n") << "N";
}

void TestTableViewFile::unusableBoxes()
{
    QFETCH(QByteArray, area);
    QFETCH(QByteArray, mask);
    QFETCH(QString, maskState);

    QVERIFY(touch(video(QStringLiteral("v.mp4"))));
    QVERIFY(touch(exported(QStringLiteral("v_area.krn")), area));
    QVERIFY(touch(exported(QStringLiteral("v_mask.krn")), mask));
    m_table->setDirectory(m_dir->path());
    QCOMPARE(column(1), QStringList { maskState });
    QCOMPARE(m_table->hasMask(m_table->filePath(0)), maskState == QLatin1String("Y"));
}

void TestTableViewFile::menuBelowLastRowDoesNothing()
{
    for (const char *name : { "a", "b" }) {
        const QString base = QString::fromLatin1(name);
        QVERIFY(touch(video(base + QStringLiteral(".mp4"))));
        QVERIFY(touch(exported(base + QStringLiteral("_area.krn"))));
        QVERIFY(touch(exported(base + QStringLiteral("_mask.krn"))));
        QVERIFY(touch(exported(base + QStringLiteral(".csv"))));
    }
    m_table->setDirectory(m_dir->path());
    clickRow(0);
    QSignalSpy spy(m_table, &TableViewFile::File_Row_Changed);

    const QRect last = m_view->visualRect(m_view->model()->index(1, 0));
    const QPoint below(last.center().x(), last.bottom() + 3 * last.height());
    QVERIFY(!m_view->indexAt(below).isValid());
    for (const QString &action :
        { QStringLiteral("Delete Result"), QStringLiteral("Delete Mask") }) {
        QMenu *menu = openMenuAt(below);
        QVERIFY(menu);
        QVERIFY(menu->isVisible());
        chooseFromMenu(menu, action);
    }
    QCOMPARE(QDir(m_dir->filePath(QStringLiteral("exportCSV"))).entryList(QDir::Files).size(), 6);
    QCOMPARE(column(1), (QStringList { QStringLiteral("Y"), QStringLiteral("Y") }));
    // Not even a refresh: the current row was not notified again.
    QCOMPARE(spy.size(), 0);
    QCOMPARE(m_view->currentIndex().row(), 0);
}

void TestTableViewFile::stateCellNamesNoVideo()
{
    // "a" has no boxes, so its mask cell reads "N"; a video called N has a
    // tracking box file that must survive a click on that cell.
    QVERIFY(touch(video(QStringLiteral("a.mp4"))));
    QVERIFY(touch(video(QStringLiteral("N.mp4"))));
    QVERIFY(touch(exported(QStringLiteral("N_mask.krn"))));
    QVERIFY(touch(exported(QStringLiteral("N.csv"))));
    m_table->setDirectory(m_dir->path());
    const int row = rowOf(QStringLiteral("a"));
    clickRow(row);
    QSignalSpy spy(m_table, &TableViewFile::File_Row_Changed);

    QMenu *menu = openMenuAt(m_view->visualRect(m_view->model()->index(row, 1)).center());
    QVERIFY(menu);
    chooseFromMenu(menu, QStringLiteral("Delete Mask"));
    menu = openMenuAt(m_view->visualRect(m_view->model()->index(row, 2)).center());
    QVERIFY(menu);
    chooseFromMenu(menu, QStringLiteral("Delete Result"));
    QVERIFY(QFile::exists(exported(QStringLiteral("N_mask.krn"))));
    QVERIFY(QFile::exists(exported(QStringLiteral("N.csv"))));
    // The table was refreshed each time, re-selecting the current row.
    QCOMPARE(spy.size(), 2);
    QCOMPARE(m_view->currentIndex().row(), row);
}

void TestTableViewFile::staleMenuDeletesNothing()
{
    // The menu is opened on one video, the table is listed again with another
    // video in that row, then the action is chosen.
    QVERIFY(touch(video(QStringLiteral("a.mp4"))));
    QVERIFY(touch(exported(QStringLiteral("a.csv"))));
    m_table->setDirectory(m_dir->path());
    QMenu *menu = openMenuAt(m_view->visualRect(m_view->model()->index(0, 0)).center());
    QVERIFY(menu);

    QVERIFY(QFile::rename(video(QStringLiteral("a.mp4")), video(QStringLiteral("keep.mp4"))));
    QVERIFY(touch(exported(QStringLiteral("keep.csv"))));
    m_table->setDirectory(m_dir->path());
    QCOMPARE(column(0), QStringList { QStringLiteral("keep") });

    chooseFromMenu(menu, QStringLiteral("Delete Result"));
    QVERIFY(QFile::exists(exported(QStringLiteral("keep.csv"))));
    QVERIFY(QFile::exists(exported(QStringLiteral("a.csv"))));
}

void TestTableViewFile::refreshAfterCurrentVideoDeleted()
{
    for (const char *name : { "a.mp4", "b.mp4", "c.mp4" })
        QVERIFY(touch(video(QString::fromLatin1(name))));
    m_table->setDirectory(m_dir->path());
    clickRow(1);
    QSignalSpy spy(m_table, &TableViewFile::File_Row_Changed);

    const QString deleted = m_table->filePath(1);
    QVERIFY(QFile::remove(deleted));
    m_table->refresh();
    QCOMPARE(m_view->model()->rowCount(), 2);
    QCOMPARE(m_view->currentIndex().row(), 1);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.takeFirst().first().toInt(), 1);
    QVERIFY(m_table->filePath(1) != deleted);
    QVERIFY(QFile::exists(m_table->filePath(1)));

    // The last row is current and disappears: no row is current afterwards.
    const QString last = m_table->filePath(1);
    QVERIFY(QFile::remove(last));
    m_table->refresh();
    QCOMPARE(m_view->model()->rowCount(), 1);
    QVERIFY(!m_view->currentIndex().isValid());
    QCOMPARE(spy.size(), 0);
}

void TestTableViewFile::setDirectoryNeverEmits()
{
    for (const char *name : { "a.mp4", "b.mp4" })
        QVERIFY(touch(video(QString::fromLatin1(name))));
    QSignalSpy spy(m_table, &TableViewFile::File_Row_Changed);
    m_table->setDirectory(m_dir->path());
    QVERIFY(!m_view->currentIndex().isValid());
    clickRow(1);
    QCOMPARE(spy.size(), 1);

    m_table->setDirectory(m_dir->path());
    QVERIFY(!m_view->currentIndex().isValid());
    QTemporaryDir other;
    m_table->setDirectory(other.path());
    m_table->setDirectory(m_dir->path());
    QCOMPARE(spy.size(), 1);
}

void TestTableViewFile::manyFillingsOneSignalPerChange()
{
    for (const char *name : { "a.mp4", "b.mp4", "c.mp4" })
        QVERIFY(touch(video(QString::fromLatin1(name))));
    for (int i = 0; i < 20; ++i)
        m_table->setDirectory(m_dir->path());
    clickRow(0);
    for (int i = 0; i < 5; ++i)
        m_table->refresh();

    QSignalSpy spy(m_table, &TableViewFile::File_Row_Changed);
    clickRow(2);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.takeFirst().first().toInt(), 2);
    QTest::keyClick(m_view, Qt::Key_Up);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.takeFirst().first().toInt(), 1);
    m_table->refresh();
    QCOMPARE(spy.size(), 1);

    // One request makes one menu.
    ChildCounter counter;
    m_host->installEventFilter(&counter);
    QVERIFY(openMenuAt(m_view->visualRect(m_view->model()->index(0, 0)).center()));
    m_host->removeEventFilter(&counter);
    QCOMPARE(counter.added, 1);
}

void TestTableViewFile::modelStaysConsistent()
{
    QAbstractItemModelTester tester(
        m_view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (const char *name : { "a.mp4", "b.mp4", "c.mp4" })
        QVERIFY(touch(video(QString::fromLatin1(name))));
    QVERIFY(touch(exported(QStringLiteral("a_area.krn"))));
    QVERIFY(touch(exported(QStringLiteral("a_mask.krn"))));
    m_table->setDirectory(m_dir->path());
    clickRow(2);
    m_table->refresh();
    QMenu *menu = openMenuAt(m_view->visualRect(m_view->model()->index(rowOf("a"), 0)).center());
    QVERIFY(menu);
    chooseFromMenu(menu, QStringLiteral("Delete Mask"));
    QTemporaryDir empty;
    m_table->setDirectory(empty.path());
    m_table->setDirectory(m_dir->path());
    QCOMPARE(m_view->model()->rowCount(), 3);
}

QTEST_MAIN(TestTableViewFile)
#include "tst_tableviewfile.moc"
