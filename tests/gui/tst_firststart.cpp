#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "firststart.h"
#include "scenes/demofolder.h"
#include "testfiles.h"
#include "zones/videofiles.h"

class TestFirstStart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void demoOnlyWithoutWorkingDirectory_data();
    void demoOnlyWithoutWorkingDirectory();

private:
    QTemporaryDir dir;
};

void TestFirstStart::init()
{
    QVERIFY(dir.isValid());
    for (const QString &entry :
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString path = dir.filePath(entry);
        QVERIFY(QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path));
    }
}

void TestFirstStart::demoOnlyWithoutWorkingDirectory_data()
{
    QTest::addColumn<QString>("remembered");
    QTest::addColumn<QString>("existing"); // what lies where the demonstration goes
    QTest::addColumn<bool>("used");
    QTest::addColumn<bool>("made");

    QTest::newRow("new user: made and remembered") << ""
                                                   << "" << true << true;
    QTest::newRow("chosen folder stays") << "chosen"
                                         << "" << false << false;
    QTest::newRow("earlier demonstration kept as it is") << ""
                                                         << "complete" << true << false;
    QTest::newRow("cannot be made: nothing remembered") << ""
                                                        << "file" << false << false;
    QTest::newRow("part of it there: left alone") << ""
                                                  << "partial" << false << false;
}

void TestFirstStart::demoOnlyWithoutWorkingDirectory()
{
    QFETCH(QString, remembered);
    QFETCH(QString, existing);
    QFETCH(bool, used);
    QFETCH(bool, made);

    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    const QString chosen = dir.filePath(QStringLiteral("chosen"));
    if (!remembered.isEmpty()) {
        QVERIFY(QDir().mkpath(chosen));
        settings.setValue(QStringLiteral("currentPath"), chosen);
    }
    QString demo = dir.filePath(QStringLiteral("data/demo"));
    const QStringList names = DemoFolder::videoNames();
    if (existing == QLatin1String("complete")) {
        for (const QString &name : names)
            QVERIFY(testfiles::write(demo + QLatin1Char('/') + name, "earlier"));
    } else if (existing == QLatin1String("partial")) {
        QVERIFY(testfiles::write(demo + QLatin1Char('/') + names.first(), "mine"));
        QVERIFY(testfiles::write(
            VideoFiles::areaFile(demo + QLatin1Char('/') + names.last()), "1,2\n"));
    } else if (existing == QLatin1String("file")) {
        QVERIFY(testfiles::write(dir.filePath(QStringLiteral("data")), "a file"));
    }

    const QString result = FirstStart::useDemoWhenNew(settings, demo);
    QCOMPARE(result, used ? demo : QString());
    QCOMPARE(settings.value(QStringLiteral("currentPath")).toString(),
        used ? demo : (remembered.isEmpty() ? QString() : chosen));
    QCOMPARE(DemoFolder::isComplete(demo), used);
    if (existing == QLatin1String("complete")) {
        for (const QString &name : names)
            QCOMPARE(testfiles::read(demo + QLatin1Char('/') + name), QByteArray("earlier"));
    }
    if (existing == QLatin1String("partial"))
        QCOMPARE(testfiles::read(demo + QLatin1Char('/') + names.first()), QByteArray("mine"));
    if (made) {
        for (const QString &name : names) {
            const QString video = demo + QLatin1Char('/') + name;
            QVERIFY2(QFileInfo(VideoFiles::areaFile(video)).isFile(), qPrintable(video));
            QVERIFY2(QFileInfo(VideoFiles::maskFile(video)).isFile(), qPrintable(video));
        }
    }
    QVERIFY(!QFileInfo::exists(demo) || made || !existing.isEmpty());
}

QTEST_GUILESS_MAIN(TestFirstStart)
#include "tst_firststart.moc"
