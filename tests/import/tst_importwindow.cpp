#include <functional>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "filedialogprovider.h"
#include "importwindow.h"
#include "settingsstore.h"
#include "testfiles.h"

namespace {

constexpr int kChainTimeout = 30000;

// Answers every question with `answer` and keeps what was asked or refused.
class Answers final : public FileDialogProvider
{
public:
    bool question(QWidget *, const QString &, const QString &text) override
    {
        questions << text;
        return answer;
    }
    void warning(QWidget *, const QString &, const QString &text) override { warnings << text; }

    bool answer = false;
    QStringList questions;
    QStringList warnings;
};

QStringList items(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    texts.sort();
    return texts;
}

// Runs `act` on the folder chooser once it is up.
void whenChooserOpens(const std::function<void(QFileDialog *)> &act)
{
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
        if (auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            act(chooser);
        }
    });
    timer->start(10);
}

} // namespace

class TestImportWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void readsSetting();
    void listing_data();
    void listing();
    void importEmptyList();
    void importsThreeAndCloses();
    void progressBarsRefuseOutOfRange_data();
    void progressBarsRefuseOutOfRange();
    void oneChainPerDestination();
    void destroyedWhileImporting();
    void chooserCancelled();
    void chooserAccepted();
    void closeButton();
    void sourcesOnOneNameRefused();
    void replacingCountedVideoAsks_data();
    void replacingCountedVideoAsks();

private:
    template <typename T> static T *child(const ImportWindow &window, const char *name)
    {
        return window.findChild<T *>(QString::fromLatin1(name));
    }
    void setImportFolder(const QString &path);

    QByteArray savedPath;
    QTemporaryDir root;
    QString dest;
    QString folder;
    QString bin;
};

void TestImportWindow::initTestCase()
{
    QVERIFY(root.isValid());
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(
        QSettings::NativeFormat, QSettings::UserScope, root.filePath(QStringLiteral("settings")));
    savedPath = qgetenv("PATH");
}

void TestImportWindow::init()
{
    const QString tag = QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char('_')
        + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
    QDir top(root.path());
    for (const char *sub : { "/dest", "/import", "/bin" })
        QVERIFY(top.mkpath(tag + QLatin1String(sub)));
    dest = top.filePath(tag + QStringLiteral("/dest"));
    folder = top.filePath(tag + QStringLiteral("/import"));
    bin = top.filePath(tag + QStringLiteral("/bin"));
    qputenv("PATH", bin.toLocal8Bit());
    SettingsStore::open()->remove(QStringLiteral("PathImport"));
}

void TestImportWindow::cleanup()
{
    qputenv("PATH", savedPath);
}

void TestImportWindow::setImportFolder(const QString &path)
{
    SettingsStore::open()->setValue(QStringLiteral("PathImport"), path);
}

void TestImportWindow::readsSetting()
{
    QVERIFY(testfiles::write(folder + QStringLiteral("/a.mp4"), "a"));
    setImportFolder(folder);
    ImportWindow window(dest);
    QCOMPARE(window.windowTitle(), QStringLiteral("Import"));
    QCOMPARE(window.minimumSize(), QSize(560, 500));
    QCOMPARE(window.maximumSize(), QSize(560, 500));
    for (const char *bar : { "pb_file", "pb_Copy", "pb_Encode", "pb_Save" }) {
        QCOMPARE(child<QProgressBar>(window, bar)->maximum(), 100);
        QCOMPARE(child<QProgressBar>(window, bar)->value(), 0);
    }
    QCOMPARE(child<QLabel>(window, "la_currentfile")->text(), QString());
    auto *edit = child<QLineEdit>(window, "le_videofile");
    QCOMPARE(edit->text(), folder);
    QVERIFY(edit->isReadOnly());
    QCOMPARE(child<QLabel>(window, "label")->text(), QStringLiteral("folder file:"));
    QCOMPARE(child<QPushButton>(window, "pb_videofile")->text(), QStringLiteral("..."));
    QCOMPARE(items(child<QListWidget>(window, "lw_filevideo")), QStringList { folder + "/a.mp4" });
}

void TestImportWindow::listing_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QStringList>("listed");

    QTest::newRow("videos of any letter case")
        << "import" << QStringList { "a.mp4", "b.AVI", "c.h264", "e.H264" };
    QTest::newRow("no folder chosen") << "" << QStringList {};
    QTest::newRow("missing folder") << "missing" << QStringList {};
}

void TestImportWindow::listing()
{
    QFETCH(QString, where);
    QFETCH(QStringList, listed);

    for (const char *name : { "a.mp4", "b.AVI", "c.h264", "d.txt", "e.H264", ".hidden.mp4", "mp4" })
        QVERIFY(testfiles::write(folder + QLatin1Char('/') + QLatin1String(name), "x"));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("sub.mp4")));
    QVERIFY(QFile::link(folder + QStringLiteral("/a.mp4"), folder + QStringLiteral("/link.mp4")));
    // With no folder, the current directory must not be listed instead.
    const QString current = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    if (!where.isEmpty())
        setImportFolder(QFileInfo(folder).dir().filePath(where));

    ImportWindow window(dest);
    QDir::setCurrent(current);
    QStringList expected;
    for (const QString &name : listed)
        expected << folder + QLatin1Char('/') + name;
    QCOMPARE(items(child<QListWidget>(window, "lw_filevideo")), expected);
}

void TestImportWindow::importEmptyList()
{
    setImportFolder(folder);
    ImportWindow window(dest);
    window.show();
    QSignalSpy finished(&window, &QDialog::finished);
    QTest::mouseClick(child<QPushButton>(window, "pb_Import"), Qt::LeftButton);
    // Not a busy bar for ever, but a word that there is nothing to import.
    QVERIFY(child<QProgressBar>(window, "pb_file")->maximum() > 0);
    QCOMPARE(child<QProgressBar>(window, "pb_file")->value(), 0);
    QVERIFY(child<QLabel>(window, "la_currentfile")
                ->text()
                .startsWith(QLatin1String("Nothing to import")));
    QVERIFY(child<QPushButton>(window, "pb_Import")->isEnabled());
    QTest::qWait(50);
    QVERIFY(window.isVisible());
    QCOMPARE(finished.count(), 0);
    QVERIFY(QDir(dest).isEmpty());
}

void TestImportWindow::importsThreeAndCloses()
{
    QVERIFY(testfiles::writeGatedTool(bin));
    QVERIFY(testfiles::write(bin + QStringLiteral("/mp4box.go"), ""));
    QVERIFY(testfiles::write(folder + QStringLiteral("/a.mp4"), QByteArray(3000, 'a')));
    QVERIFY(testfiles::write(folder + QStringLiteral("/b.AVI"), QByteArray(3000, 'b')));
    QVERIFY(testfiles::write(folder + QStringLiteral("/c.h264"), QByteArray(5000, 'c')));
    QVERIFY(testfiles::write(folder + QStringLiteral("/d.txt"), "d"));
    setImportFolder(folder);

    ImportWindow window(dest);
    window.show();
    auto *files = child<QProgressBar>(window, "pb_file");
    QSignalSpy done(files, &QProgressBar::valueChanged);
    QSignalSpy finished(&window, &QDialog::finished);
    QTest::mouseClick(child<QPushButton>(window, "pb_Import"), Qt::LeftButton);
    QCOMPARE(files->maximum(), 3);
    QVERIFY(!child<QPushButton>(window, "pb_Import")->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kChainTimeout);
    QVERIFY(!window.isVisible());
    QList<int> values;
    for (const QList<QVariant> &signal : done)
        values << signal.first().toInt();
    QCOMPARE(values, QList<int>({ 1, 2, 3 }));
    // b.AVI is imported like b.avi.
    QCOMPARE(
        QDir(dest).entryList(QDir::Files, QDir::Name), QStringList({ "a.mp4", "b.mp4", "c.mp4" }));
    QCOMPARE(testfiles::read(dest + QStringLiteral("/c.mp4")), QByteArray(5000, 'c'));
    for (const char *bar : { "pb_Copy", "pb_Encode", "pb_Save" })
        QCOMPARE(child<QProgressBar>(window, bar)->value(), 0);
    QVERIFY(child<QPushButton>(window, "pb_Import")->isEnabled());
}

void TestImportWindow::progressBarsRefuseOutOfRange_data()
{
    QTest::addColumn<QString>("bar");
    QTest::addColumn<int>("slot");

    QTest::newRow("copy") << "pb_Copy" << 0;
    QTest::newRow("save") << "pb_Save" << 1;
    QTest::newRow("encode") << "pb_Encode" << 2;
}

void TestImportWindow::progressBarsRefuseOutOfRange()
{
    QFETCH(QString, bar);
    QFETCH(int, slot);

    ImportWindow window(dest);
    const std::function<void(int)> report[] = {
        [&window](int v) { window.copy_pos(v); },
        [&window](int v) { window.save_pos(v); },
        [&window](int v) { window.encode_pos(v); },
    };
    auto *progress = window.findChild<QProgressBar *>(bar);
    report[slot](46);
    QCOMPARE(progress->value(), 46);
    report[slot](101);
    QCOMPARE(progress->value(), 46);
    report[slot](-1);
    QCOMPARE(progress->value(), 46);
    report[slot](100);
    QCOMPARE(progress->value(), 100);
    // The other bars are left alone.
    int others = 0;
    for (const char *name : { "pb_Copy", "pb_Save", "pb_Encode", "pb_file" })
        others += child<QProgressBar>(window, name)->value();
    QCOMPARE(others, 100);
}

void TestImportWindow::oneChainPerDestination()
{
    QVERIFY(testfiles::writeGatedTool(bin));
    QVERIFY(testfiles::write(folder + QStringLiteral("/cam.h264"), QByteArray(2000, 'h')));
    setImportFolder(folder);

    ImportWindow first(dest);
    first.show();
    QTest::mouseClick(child<QPushButton>(first, "pb_Import"), Qt::LeftButton);
    QVERIFY(!child<QPushButton>(first, "pb_Import")->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin + QStringLiteral("/mp4box.args")), kChainTimeout);
    // A second press, even one that bypasses the disabled button, starts nothing.
    first.Import();

    // The same folder, spelled another way.
    ImportWindow second(dest + QStringLiteral("/."));
    second.show();
    QTest::mouseClick(child<QPushButton>(second, "pb_Import"), Qt::LeftButton);
    QCOMPARE(child<QLabel>(second, "la_currentfile")->text(), QString());
    QCOMPARE(child<QProgressBar>(second, "pb_file")->maximum(), 100);

    // Another destination is free.
    const QString elsewhere = root.filePath(QStringLiteral("elsewhere"));
    QVERIFY(QDir().mkpath(elsewhere));
    QVERIFY(testfiles::write(folder + QStringLiteral("/clip.mp4"), "clip"));
    ImportWindow third(elsewhere);
    third.show();
    QTest::mouseClick(child<QPushButton>(third, "pb_Import"), Qt::LeftButton);
    QCOMPARE(child<QProgressBar>(third, "pb_file")->maximum(), 2);

    QVERIFY(testfiles::write(bin + QStringLiteral("/mp4box.go"), ""));
    QTRY_VERIFY_WITH_TIMEOUT(!first.isVisible(), kChainTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!third.isVisible(), kChainTimeout);
    // The tool ran once per chain: two chains, two calls.
    QCOMPARE(testfiles::read(bin + QStringLiteral("/mp4box.args")).count('\n'), 10);

    // Once the first chain is done, the second dialog may import.
    QTest::mouseClick(child<QPushButton>(second, "pb_Import"), Qt::LeftButton);
    QCOMPARE(child<QProgressBar>(second, "pb_file")->maximum(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!second.isVisible(), kChainTimeout);
}

void TestImportWindow::destroyedWhileImporting()
{
    QVERIFY(testfiles::writeGatedTool(bin));
    QVERIFY(testfiles::write(folder + QStringLiteral("/a.h264"), QByteArray(2000, 'a')));
    QVERIFY(testfiles::write(folder + QStringLiteral("/b.mp4"), QByteArray(2000, 'b')));
    QVERIFY(testfiles::write(folder + QStringLiteral("/c.avi"), QByteArray(2000, 'c')));
    QVERIFY(testfiles::write(folder + QStringLiteral("/d.h264"), QByteArray(2000, 'd')));
    setImportFolder(folder);

    auto window = std::make_unique<ImportWindow>(dest);
    window->show();
    QTest::mouseClick(child<QPushButton>(*window, "pb_Import"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(bin + QStringLiteral("/mp4box.args")), kChainTimeout);
    // What the main window does when the user closes the dialog mid-import.
    window->close();
    window.reset();

    ImportWindow second(dest);
    second.show();
    QTest::mouseClick(child<QPushButton>(second, "pb_Import"), Qt::LeftButton);
    QCOMPARE(child<QLabel>(second, "la_currentfile")->text(), QString());

    QVERIFY(testfiles::write(bin + QStringLiteral("/mp4box.go"), ""));
    const QStringList all { "a.mp4", "b.mp4", "c.mp4", "d.mp4" };
    QTRY_COMPARE_WITH_TIMEOUT(QDir(dest).entryList(QDir::Files, QDir::Name), all, kChainTimeout);
    QCOMPARE(testfiles::read(dest + QStringLiteral("/d.mp4")), QByteArray(2000, 'd'));

    // The destination is free again once the detached chain is done.
    QTRY_VERIFY_WITH_TIMEOUT(
        (second.Import(), !child<QLabel>(second, "la_currentfile")->text().isEmpty()),
        kChainTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(!second.isVisible(), kChainTimeout);
}

void TestImportWindow::chooserCancelled()
{
    QVERIFY(testfiles::write(folder + QStringLiteral("/a.mp4"), "a"));
    setImportFolder(folder);
    ImportWindow window(dest);
    window.show();

    whenChooserOpens([](QFileDialog *chooser) { chooser->reject(); });
    QTest::mouseClick(child<QPushButton>(window, "pb_videofile"), Qt::LeftButton);
    QCOMPARE(child<QLineEdit>(window, "le_videofile")->text(), folder);
    QCOMPARE(items(child<QListWidget>(window, "lw_filevideo")), QStringList { folder + "/a.mp4" });
    QCOMPARE(SettingsStore::open()->value(QStringLiteral("PathImport")).toString(), folder);
}

void TestImportWindow::chooserAccepted()
{
    const QString other = root.filePath(QStringLiteral("other"));
    QVERIFY(QDir().mkpath(other));
    QVERIFY(testfiles::write(other + QStringLiteral("/x.avi"), "x"));
    QVERIFY(testfiles::write(folder + QStringLiteral("/a.mp4"), "a"));
    setImportFolder(folder);
    ImportWindow window(dest);
    window.show();

    QString openedAt;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    whenChooserOpens([&](QFileDialog *chooser) {
        openedAt = chooser->directory().absolutePath();
        mode = chooser->fileMode();
        chooser->setDirectory(other);
        static_cast<QDialog *>(chooser)->accept();
    });
    QTest::mouseClick(child<QPushButton>(window, "pb_videofile"), Qt::LeftButton);
    QCOMPARE(openedAt, folder);
    QCOMPARE(mode, QFileDialog::Directory);
    QCOMPARE(child<QLineEdit>(window, "le_videofile")->text(), other);
    QCOMPARE(items(child<QListWidget>(window, "lw_filevideo")), QStringList { other + "/x.avi" });
    QCOMPARE(SettingsStore::open()->value(QStringLiteral("PathImport")).toString(), other);
}

void TestImportWindow::closeButton()
{
    ImportWindow window(dest);
    window.show();
    QSignalSpy finished(&window, &QDialog::finished);
    QTest::mouseClick(child<QPushButton>(window, "pb_Close"), Qt::LeftButton);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!window.isVisible());
}

void TestImportWindow::sourcesOnOneNameRefused()
{
    QVERIFY(testfiles::write(folder + QStringLiteral("/a.b.mp4"), "first"));
    QVERIFY(testfiles::write(folder + QStringLiteral("/a.c.avi"), "second"));
    QVERIFY(testfiles::write(folder + QStringLiteral("/other.mp4"), "other"));
    setImportFolder(folder);
    Answers answers;
    ImportWindow window(dest);
    window.setDialogs(&answers);
    window.show();
    QSignalSpy finished(&window, &QDialog::finished);
    QTest::mouseClick(child<QPushButton>(window, "pb_Import"), Qt::LeftButton);

    // Both named, nothing imported, the dialog still open.
    QCOMPARE(answers.warnings.size(), 1);
    for (const char *name : { "a.b.mp4", "a.c.avi", "a.mp4" })
        QVERIFY2(answers.warnings.first().contains(QLatin1String(name)), name);
    QCOMPARE(child<QLabel>(window, "la_currentfile")->text(), answers.warnings.first());
    QVERIFY(child<QPushButton>(window, "pb_Import")->isEnabled());
    QCOMPARE(finished.count(), 0);
    QVERIFY(QDir(dest).isEmpty());
}

void TestImportWindow::replacingCountedVideoAsks_data()
{
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QByteArray>("after");

    const QStringList counts { "clip.csv", "clip_run.json" };
    QTest::newRow("no counts: replaced unasked") << QStringList() << false << QByteArray("new");
    QTest::newRow("counts, replace") << counts << true << QByteArray("new");
    QTest::newRow("counts, partial counts and a review, replace")
        << counts + QStringList { "partial/clip.csv", "partial/clip_run.json", "clip_review.csv" }
        << true << QByteArray("new");
    QTest::newRow("counts, keep") << counts << false << QByteArray("old");
}

void TestImportWindow::replacingCountedVideoAsks()
{
    QFETCH(QStringList, results);
    QFETCH(bool, answer);
    const bool counted = !results.isEmpty();
    QFETCH(QByteArray, after);

    QVERIFY(testfiles::write(folder + QStringLiteral("/clip.mp4"), "new"));
    QVERIFY(testfiles::write(folder + QStringLiteral("/fresh.mp4"), "fresh"));
    QVERIFY(testfiles::write(dest + QStringLiteral("/clip.mp4"), "old"));
    // Boxes alone are no counts: they stay with a replaced video.
    QVERIFY(QDir(dest).mkdir(QStringLiteral("exportCSV")));
    const QString exportDir = dest + QStringLiteral("/exportCSV");
    const QStringList oldFiles = QStringList { QStringLiteral("clip_area.krn") } + results;
    for (const QString &name : oldFiles)
        QVERIFY(testfiles::write(exportDir + QLatin1Char('/') + name, name.toLatin1()));
    setImportFolder(folder);
    Answers answers;
    answers.answer = answer;
    ImportWindow window(dest);
    window.setDialogs(&answers);
    window.show();
    QSignalSpy finished(&window, &QDialog::finished);
    QTest::mouseClick(child<QPushButton>(window, "pb_Import"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kChainTimeout);

    QCOMPARE(answers.questions.size(), counted ? 1 : 0);
    if (counted)
        QVERIFY(answers.questions.first().contains(QLatin1String("with clip.mp4"))
            && answers.questions.first().contains(QLatin1String("exportCSV/replaced-")));
    QCOMPARE(testfiles::read(dest + QStringLiteral("/clip.mp4")), after);
    // The files of a replaced counted recording are moved aside whole; they
    // never stay with the new one.
    const bool moved = counted && answer;
    const QStringList aside
        = QDir(exportDir).entryList({ QStringLiteral("replaced-*") }, QDir::Dirs);
    QCOMPARE(aside.size(), moved ? 1 : 0);
    for (const QString &name : oldFiles) {
        const QString where = moved ? aside.first() + QLatin1Char('/') + name : name;
        QCOMPARE(testfiles::read(exportDir + QLatin1Char('/') + where), name.toLatin1());
        QCOMPARE(QFileInfo::exists(exportDir + QLatin1Char('/') + name), !moved);
    }
    // The other video is imported either way.
    QCOMPARE(testfiles::read(dest + QStringLiteral("/fresh.mp4")), QByteArray("fresh"));
}

QTEST_MAIN(TestImportWindow)

#include "tst_importwindow.moc"
