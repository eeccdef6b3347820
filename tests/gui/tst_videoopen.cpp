#include <vector>

#include <QAbstractItemModel>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTextCodec>
#include <QTextEdit>

#include "mainwindow.h"
#include "playbackfixture.h"
#include <unistd.h>

// Opening and closing videos: the counts listed from their files, the controls
// of each mode, videos that cannot be opened, unusual paths and start times.
class TestVideoOpen : public PlaybackFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(prepare()); }
    void init() { QVERIFY(startRow()); }
    void cleanup() { endRow(); }

    void countFileListing_data();
    void countFileListing();
    void insectDetectedIsNotLimited();
    void countsFollowTheVideo();
    void modeControls_data();
    void modeControls();
    void unopenableVideo_data();
    void unopenableVideo();
    void missingFileKeepsTheVideo();
    void nameNotInTheEncodingSaysWhy();
    void unusualPathsOpen_data();
    void unusualPathsOpen();
    void startTimeFromName_data();
    void startTimeFromName();
};

void TestVideoOpen::countFileListing_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<double>>("listed");
    QTest::addColumn<QString>("totals");

    const QString none = QStringLiteral("In Detected :0\nOut Detected : 0");
    QTest::newRow("no count file") << false << QByteArray() << QList<double>() << none;
    QTest::newRow("header only") << true << QByteArray("Frame;X;Y;In;Out;Timestamp\n")
                                 << QList<double>() << none;
    QTest::newRow("three records, CR LF")
        << true
        << QByteArray("Frame;X;Y;In;Out;Timestamp\r\n100;1;2;1;0;a\r\n200;3;4;0;1;b\r\n"
                      "300;5;6;1;0;c\r\n")
        << QList<double> { 100, 200, 300 } << QStringLiteral("In Detected :2\nOut Detected : 1");
    QTest::newRow("reading stops at a short line")
        << true << QByteArray("Frame;X;Y;In;Out;Timestamp\n7;1;2;1;0;a\n8;1;2\n9;1;2;0;1;c\n")
        << QList<double> { 7 } << QStringLiteral("In Detected :1\nOut Detected : 0");

    // 2500 records: the first 2001 in file order are listed.
    std::vector<double> frames;
    for (int i = 0; i < 2500; ++i)
        frames.push_back(10000 + i);
    QList<double> first;
    for (int i = 0; i <= 2000; ++i)
        first << frames[static_cast<std::size_t>(i)];
    // The totals take all 2500 events, and say that not all are listed.
    QTest::newRow("2500 records")
        << true << countFile(frames) << first
        << QStringLiteral(
               "In Detected :1250\nOut Detected : 1250\n2500 events, the first 2001 listed");
}

void TestVideoOpen::countFileListing()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(QList<double>, listed);
    QFETCH(QString, totals);

    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    if (exists)
        QVERIFY(writeFile(countFilePath(video), content));
    QVERIFY(createWindow(m_work->path()));
    QCOMPARE(child<QTextEdit>("te_error")->toPlainText(),
        QStringLiteral("In Detected :0\nOut Detected : 0"));
    QVERIFY(openVideo(video));

    const QAbstractItemModel *model = child<QTableView>("tv_result")->model();
    QCOMPARE(model->rowCount(), listed.size());
    for (int row = 0; row < listed.size(); ++row)
        QCOMPARE(model->index(row, 0).data().toDouble(), listed.at(row));
    QCOMPARE(child<QTextEdit>("te_error")->toPlainText(), totals);
    QVERIFY(child<QTableView>("tv_result")->isEnabled());
}

void TestVideoOpen::insectDetectedIsNotLimited()
{
    std::vector<double> frames;
    for (int i = 0; i < 2500; ++i)
        frames.push_back(i);
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    QVERIFY(writeFile(countFilePath(video), countFile(frames)));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(video));

    const auto *table = child<QTableView>("tv_result");
    const auto *counter = child<QTextEdit>("te_error");
    QCOMPARE(table->model()->rowCount(), 2001);
    const QString full = counter->toPlainText();

    // As the crossing counter's signal would deliver it: appended past the
    // list's limit, so the totals move while the table stays at 2001 rows.
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "Add_Insect_detected", Q_ARG(int, 5000),
        Q_ARG(int, 11), Q_ARG(int, 22), Q_ARG(int, 1), Q_ARG(int, 0)));
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "Add_Insect_detected", Q_ARG(int, 5001),
        Q_ARG(int, 33), Q_ARG(int, 44), Q_ARG(int, 0), Q_ARG(int, 1)));
    QCOMPARE(table->model()->rowCount(), 2001);
    // Every event of the file counts, and every event added since.
    QCOMPARE(full,
        QStringLiteral(
            "In Detected :1250\nOut Detected : 1250\n2500 events, the first 2001 listed"));
    QCOMPARE(counter->toPlainText(),
        QStringLiteral(
            "In Detected :1251\nOut Detected : 1251\n2502 events, the first 2001 listed"));
}

void TestVideoOpen::countsFollowTheVideo()
{
    const QString first = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("first.mp4"));
    const QString second = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("second.mp4"));
    QVERIFY(writeFile(countFilePath(first), countFile({ 1, 2, 3 })));
    QVERIFY(createWindow(m_work->path()));
    const auto *table = child<QTableView>("tv_result");

    QVERIFY(openVideo(first));
    QCOMPARE(table->model()->rowCount(), 3);
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "Add_Insect_detected", Q_ARG(int, 99),
        Q_ARG(int, 5), Q_ARG(int, 6), Q_ARG(int, 1), Q_ARG(int, 0)));
    QCOMPARE(table->model()->rowCount(), 4);
    QCOMPARE(table->model()->index(3, 0).data().toDouble(), 99.0);
    QCOMPARE(table->model()->index(3, 1).data().toInt(), 5);
    QCOMPARE(table->model()->index(3, 2).data().toInt(), 6);

    QVERIFY(openVideo(second));
    QCOMPARE(table->model()->rowCount(), 0);
    QCOMPARE(child<QTextEdit>("te_error")->toPlainText(),
        QStringLiteral("In Detected :0\nOut Detected : 0"));

    // Back to the first: its counts come from its file again, not from memory.
    QVERIFY(openVideo(first));
    QCOMPARE(table->model()->rowCount(), 3);
}

void TestVideoOpen::modeControls_data()
{
    QTest::addColumn<bool>("boxes");
    // Modes in the order they are entered, with the controls enabled after each.
    QTest::addColumn<QStringList>("modes");
    QTest::addColumn<QList<QStringList>>("enabled");

    const QStringList always { "pb_about", "cb_hankview", "gv_video", "pb_summary", "pb_review",
        "cb_savetracks" };
    const QStringList files { "pb_Import", "pb_videofile", "tv_file" };
    const QStringList viewing { "pb_slow_reverse", "pb_fast_reverse", "pb_play_pause",
        "pb_fast_forward", "pb_slow_forward", "pushButton_2", "hs_frame", "pb_clearmask",
        "pb_savemask", "pb_cancelmask", "pb_cleararea", "pb_savearea", "pb_cancelarea",
        "tv_result" };
    const QStringList shift { "pb_movebox", "pb_savebox", "pb_cancelbox" };
    // The counting choice goes with the processing choice.
    const QStringList processing { "cb_process_conf", "cb_counting", "pb_algo" };
    const QStringList runControls = always + QStringList { "pb_algo" };

    QTest::newRow("with both boxes")
        << true
        << QStringList { "view", "process", "cancel", "process", "end", "closed", "view", "closed" }
        << QList<QStringList> { always + files + viewing + shift + processing, runControls,
               always + files + viewing + shift + processing, runControls,
               // The run has closed its video: no box can be edited until
               // the start video is open again.
               always + files + QStringList { "tv_result" },
               // Nor when a video is closed.
               always + files, always + files + viewing + shift + processing, always + files };
    QTest::newRow("without boxes")
        << false
        << QStringList { "view", "closed", "view", "process", "cancel", "closed", "view", "process",
               "end" }
        << QList<QStringList> { always + files + viewing, always + files, always + files + viewing,
               // Back from a run, the shift follows the video's boxes too.
               runControls, always + files + viewing, always + files, always + files + viewing,
               runControls, always + files + QStringList { "tv_result" } };
}

void TestVideoOpen::modeControls()
{
    QFETCH(bool, boxes);
    QFETCH(QStringList, modes);
    QFETCH(QList<QStringList>, enabled);
    QCOMPARE(enabled.size(), modes.size());

    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    if (boxes) {
        QVERIFY(writeFile(exportFilePath(video, "_area.krn"), "40,60\n280,60\n"));
        QVERIFY(writeFile(exportFilePath(video, "_mask.krn"), "20,180\n300,180\n160,300\n"));
    }
    QVERIFY(writeFile(countFilePath(video), countFile({ 5, 6 })));
    QVERIFY(createWindow(m_work->path()));

    auto *playPause = child<QPushButton>("pb_play_pause");
    auto *process = child<QPushButton>("pb_algo");
    for (int step = 0; step < modes.size(); ++step) {
        const QString &mode = modes.at(step);
        const QByteArray where = QByteArray::number(step) + ' ' + mode.toLatin1();
        if (mode == QLatin1String("view")) {
            // Through the file table; playing, so that a later pause shows.
            QVERIFY(openVideo(video));
            QVERIFY(act(QStringLiteral("play")));
            QVERIFY2(playPause->text() == QLatin1String("Pause"), where);
        } else if (mode == QLatin1String("closed")) {
            // "..." answered with cancel still closes the video first.
            QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
        } else if (mode == QLatin1String("process")) {
            enterMode(MainWindow::ModeProcess);
            process->setText(QStringLiteral("Cancel"));
        } else if (mode == QLatin1String("end")) {
            enterMode(MainWindow::ModeProcessEnd);
        } else {
            enterMode(MainWindow::ModeProcessCancel);
        }

        QStringList expected = enabled.at(step);
        expected.sort();
        const QStringList actual = enabledControls();
        QVERIFY2(
            actual == expected, where + " enables " + actual.join(QLatin1Char(' ')).toLatin1());

        if (mode == QLatin1String("closed")) {
            for (const char *name :
                { "la_height", "la_width", "la_fps", "la_frame", "la_mouse", "la_file_selected" })
                QVERIFY2(label(name).isEmpty(), where + ' ' + name);
            QVERIFY2(child<QTableView>("tv_result")->model()->rowCount() == 0, where);
            QVERIFY2(child<QTextEdit>("te_error")->toPlainText()
                    == QLatin1String("In Detected :0\nOut Detected : 0"),
                where);
            QVERIFY2(shownIsEmpty(), where);
        }
        if (mode == QLatin1String("view") || mode == QLatin1String("process")) {
            // The counts stay listed: clearing them is the processing's own step.
            QVERIFY2(child<QTableView>("tv_result")->model()->rowCount() == 2, where);
            QVERIFY2(label("la_file_selected") == video, where);
        }
        if (mode == QLatin1String("process"))
            QVERIFY2(shownIndex() == 90, where);
        if (mode == QLatin1String("end") || mode == QLatin1String("cancel")) {
            QVERIFY2(process->text() == QLatin1String("Process"), where);
            // Paused, and the caption says so.
            QVERIFY2(playPause->text() == QLatin1String("Play"), where);
            QVERIFY(waitTicks(1));
            const QString at = label("la_Num_Frame");
            QVERIFY(waitTicks(2));
            QVERIFY2(label("la_Num_Frame") == at, where);
        }
        if (mode == QLatin1String("end"))
            QVERIFY2(shownIsEmpty(), where);
        if (mode == QLatin1String("cancel"))
            QVERIFY2(shownIndex() == label("la_Num_Frame").toInt(), where);
    }
}

void TestVideoOpen::unopenableVideo_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("content");

    QTest::addColumn<QString>("why");

    QTest::newRow("not a video") << QString() << QByteArray(4096, 'k')
                                 << QStringLiteral("cannot be opened");
    QTest::newRow("empty file") << QString() << QByteArray() << QStringLiteral("cannot be opened");
    QTest::newRow("no frame 90") << QStringLiteral("short.mp4") << QByteArray()
                                 << QStringLiteral("no frame 90");
    // Opens, but has no frame count: it would play as frame -2.3e18.
    QTest::newRow("raw H.264 under an .mp4 name")
        << QStringLiteral("raw") << QByteArray() << QStringLiteral("raw H.264 stream");
}

void TestVideoOpen::unopenableVideo()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, content);

    const QString good = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("good.mp4"));
    const QString bad = m_work->filePath(QStringLiteral("bad.mp4"));
    if (source.isEmpty()) {
        QVERIFY(writeFile(bad, content));
    } else if (source == QLatin1String("raw")) {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
            { QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"),
                QStringLiteral("lavfi"), QStringLiteral("-i"),
                QStringLiteral("testsrc=size=320x240:rate=25"), QStringLiteral("-frames:v"),
                QStringLiteral("120"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
                QStringLiteral("-f"), QStringLiteral("h264"), bad });
        QVERIFY(ffmpeg.waitForFinished(60000));
        QCOMPARE(ffmpeg.exitCode(), 0);
    } else {
        QVERIFY(QFile::copy(m_videos.filePath(source), bad));
    }
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(good));
    QCOMPARE(shownIndex(), 90);

    // Left as closing the previous video left them.
    QVERIFY(openVideo(bad));
    QCOMPARE(enabledControls(),
        QStringList({ "cb_hankview", "cb_savetracks", "gv_video", "pb_Import", "pb_about",
            "pb_review", "pb_summary", "pb_videofile", "tv_file" }));
    QVERIFY(label("la_file_selected").isEmpty());
    QVERIFY(label("la_width").isEmpty());
    QVERIFY(waitTicks(2));
    // No picture, but a text that names the video and says why.
    QVERIFY(shownIsEmpty());
    QFETCH(QString, why);
    const QString said = m_window->statusBar()->currentMessage();
    QVERIFY2(said.contains(QStringLiteral("bad.mp4")) && said.contains(why), qPrintable(said));
    QVERIFY2(shownText().contains(why), qPrintable(shownText()));

    // The good one still opens afterwards, and what was said of the bad one goes.
    QVERIFY(openVideo(good));
    QCOMPARE(shownIndex(), 90);
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
}

void TestVideoOpen::missingFileKeepsTheVideo()
{
    const QString kept = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("kept.mp4"));
    const QString gone = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("gone.mp4"));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(kept));
    QVERIFY(act(QStringLiteral(">")));
    QVERIFY(QFile::remove(gone));

    QVERIFY(openVideo(gone));
    QVERIFY(waitTicks(2));
    QCOMPARE(label("la_file_selected"), kept);
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("91"));
    QCOMPARE(shownIndex(), 91);
    QVERIFY(child<QPushButton>("pb_play_pause")->isEnabled());
}

void TestVideoOpen::nameNotInTheEncodingSaysWhy()
{
    // Latin-1 bytes listed in a UTF-8 system: the name holds a replacement
    // character, which names no file.
    const QString good = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("good.mp4"));
    const QByteArray raw = QFile::encodeName(m_work->path()) + "/caf\xe9.mp4";
    const QString plain = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("plain.mp4"));
    QCOMPARE(::rename(QFile::encodeName(plain).constData(), raw.constData()), 0);
    QTextCodec *const locale = QTextCodec::codecForLocale();
    const auto restore = qScopeGuard([&] {
        QTextCodec::setCodecForLocale(locale);
        ::unlink(raw.constData());
    });
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QVERIFY(createWindow(m_work->path()));
    QVERIFY(openVideo(good));
    QVERIFY(openVideo(QFile::decodeName(raw)));
    QVERIFY2(m_window->statusBar()->currentMessage().contains(QStringLiteral("not valid text")),
        qPrintable(m_window->statusBar()->currentMessage()));
    QCOMPARE(label("la_file_selected"), good);
    QCOMPARE(shownIndex(), 90);
}

void TestVideoOpen::unusualPathsOpen_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");

    QTest::newRow("accents") << QStringLiteral("Vidéos d'été à Bâle") << QStringLiteral("clip.mp4");
    QTest::newRow("other scripts")
        << QString::fromUtf8("Ñandú 視頻 Ελληνικά Видео") << QString::fromUtf8("запись_鳥.mp4");
    // Far beyond 250 bytes, the length a fixed path buffer could hold.
    QString deep;
    for (int i = 0; i < 6; ++i)
        deep += QStringLiteral("/%1%2").arg(QString(60, QLatin1Char('d'))).arg(i);
    QTest::newRow("a long path") << deep.mid(1) << QStringLiteral("clip.mp4");
    QTest::newRow("a backslash in the name") << QString() << QStringLiteral("back\\slash.mp4");
}

void TestVideoOpen::unusualPathsOpen()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);

    const QString video = addVideo(QStringLiteral("h264.mp4"), name, folder);
    QVERIFY(!video.isEmpty());
    if (QTest::currentDataTag() == QLatin1String("a long path"))
        QVERIFY(QFile::encodeName(video).size() > 300);
    QVERIFY(createWindow(QFileInfo(video).path()));
    QVERIFY(openVideo(video));
    // Whole in the tip; on screen too when it fits.
    QCOMPARE(child<QLabel>("la_file_selected")->toolTip(), QDir::toNativeSeparators(video));
    if (QTest::currentDataTag() != QLatin1String("a long path"))
        QCOMPARE(label("la_file_selected"), video);
    QCOMPARE(shownIndex(), 90);
    QVERIFY(act(QStringLiteral(">>")));
    QCOMPARE(shownIndex(), 100);
}

void TestVideoOpen::startTimeFromName_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // "coded", "now" or "invalid"
    QTest::addColumn<QDateTime>("coded");
    QTest::addColumn<QString>("said"); // beside the video's properties

    QTest::newRow("coded name") << QString() << QStringLiteral("video_20150612_0930_01.mp4")
                                << QStringLiteral("coded")
                                << QDateTime(QDate(2015, 6, 12), QTime(9, 30))
                                << QStringLiteral("Recording start: 2015-06-12 09:30");
    const QString processing = QStringLiteral("Stamped at the time of processing");
    QTest::newRow("plain name") << QString() << QStringLiteral("clip.mp4") << QStringLiteral("now")
                                << QDateTime() << processing;
    // A date that does not parse is warned about and stamped as a plain
    // name: an invalid start would leave every time stamp empty.
    QTest::newRow("name too short after the cut")
        << QString() << QStringLiteral("video_20150612_0930.mp4") << QStringLiteral("now")
        << QDateTime() << processing;
    // Only the file's own name counts.
    QTest::newRow("marker in the folder only")
        << QStringLiteral("video_archive") << QStringLiteral("clip.mp4") << QStringLiteral("now")
        << QDateTime() << processing;
}

void TestVideoOpen::startTimeFromName()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QDateTime, coded);
    QFETCH(QString, said);

    const QString video = addVideo(QStringLiteral("h264.mp4"), name, folder);
    QVERIFY(createWindow(QFileInfo(video).path()));
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(openVideo(video));
    const QDateTime start = startTime();
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(label("la_recording"), said);

    if (kind == QLatin1String("coded")) {
        QCOMPARE(start, coded);
    } else if (kind == QLatin1String("now")) {
        QVERIFY(start.isValid());
        QVERIFY(before <= start && start <= after);
    } else {
        QVERIFY(!start.isValid());
    }
}

QTEST_MAIN(TestVideoOpen)
#include "tst_videoopen.moc"
