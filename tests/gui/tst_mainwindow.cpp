#include <algorithm>
#include <functional>
#include <memory>

#include <opencv2/imgcodecs.hpp>

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

#include "filedialogprovider.h"
#include "graphicsviewmouse.h"
#include "importwindow.h"
#include "mainwindow.h"
#include "playback.h"
#include "settingsstore.h"
#include "testfiles.h"
#include "version.h"

namespace {

// Answers the window's file dialogs from prepared lists and records the calls.
class ScriptedDialogs final : public FileDialogProvider
{
public:
    QStringList directoryAnswers;
    QStringList saveAnswers;
    QStringList directoryStarts;
    QList<QStringList> saveCalls;

    QString existingDirectory(const QString &start) override
    {
        directoryStarts << start;
        return directoryAnswers.isEmpty() ? QString() : directoryAnswers.takeFirst();
    }

    QString saveFileName(const QString &caption, const QString &dir, const QString &filter) override
    {
        saveCalls << QStringList { caption, dir, filter };
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    QString saveImageName(const QString &caption, const QStringList &filters, int &chosen) override
    {
        saveCalls << (QStringList { caption } + filters);
        chosen = imageKind;
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }

    bool question(QWidget *, const QString &, const QString &text) override
    {
        questions << text;
        return answer;
    }
    void warning(QWidget *, const QString &, const QString &text) override { warnings << text; }

    bool answer = true;
    int imageKind = 0; // 1: the full frame
    QStringList questions;
    QStringList warnings;
};

// Where a text does not fit its widget, in the font the widget uses: the
// widget's name, the room it has and the room its text needs.
QStringList clippedTexts(const QWidget *top)
{
    QStringList clipped;
    const auto check = [&clipped](const QWidget *widget, const QString &text, int extra, int room) {
        if (text.isEmpty() || !widget->isVisibleTo(widget->window()))
            return;
        int needed = 0;
        for (const QString &line : text.split(QLatin1Char('\n')))
            needed = std::max(needed, widget->fontMetrics().horizontalAdvance(line) + extra);
        if (needed > room) {
            clipped << QStringLiteral("%1 \"%2\": %3 < %4")
                           .arg(widget->objectName(), text)
                           .arg(room)
                           .arg(needed);
        }
    };
    for (const QWidget *widget : top->findChildren<QWidget *>()) {
        const QStyle *style = widget->style();
        if (const auto *label = qobject_cast<const QLabel *>(widget)) {
            if (!label->wordWrap())
                check(label, label->text(), 2 * label->margin(), label->contentsRect().width());
            // A line too low loses its descenders.
            if (!label->text().isEmpty()
                && label->fontMetrics().height() > label->contentsRect().height()) {
                clipped << QStringLiteral("%1 \"%2\": %3 high < %4")
                               .arg(label->objectName(), label->text())
                               .arg(label->contentsRect().height())
                               .arg(label->fontMetrics().height());
            }
        } else if (const auto *box = qobject_cast<const QCheckBox *>(widget)) {
            check(box, box->text(),
                style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box)
                    + style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box),
                box->width());
        } else if (const auto *button = qobject_cast<const QPushButton *>(widget)) {
            check(button, button->text(),
                2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button), button->width());
        } else if (const auto *group = qobject_cast<const QGroupBox *>(widget)) {
            check(group, group->title().trimmed(), 16, group->width());
        } else if (const auto *combo = qobject_cast<const QComboBox *>(widget)) {
            // Its hint has room for the longest item.
            if (combo->isVisibleTo(combo->window()) && combo->width() < combo->sizeHint().width())
                clipped << QStringLiteral("%1: %2 < %3")
                               .arg(combo->objectName())
                               .arg(combo->width())
                               .arg(combo->sizeHint().width());
        }
    }
    return clipped;
}

// Controls that reach out of the window, where no one sees them.
QStringList outside(const QMainWindow *window)
{
    QStringList out;
    const QRect shown(
        window->centralWidget()->mapTo(window, QPoint(0, 0)), window->centralWidget()->size());
    for (const QWidget *widget : window->centralWidget()->findChildren<QWidget *>()) {
        const bool control = qobject_cast<const QLabel *>(widget)
            || qobject_cast<const QAbstractButton *>(widget)
            || qobject_cast<const QAbstractItemView *>(widget)
            || qobject_cast<const QComboBox *>(widget) || qobject_cast<const QSlider *>(widget)
            || qobject_cast<const QGroupBox *>(widget) || qobject_cast<const QLineEdit *>(widget);
        if (!control || !widget->isVisibleTo(window) || widget->objectName().startsWith("qt_")
            || widget->objectName().isEmpty())
            continue;
        const QRect rect(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (!shown.contains(rect))
            out << widget->objectName();
    }
    return out;
}

// Labels, buttons and group boxes of one parent whose rectangles cross.
QStringList overlaps(const QWidget *top)
{
    QStringList crossing;
    const auto shows = [](const QWidget *w) {
        if (const auto *label = qobject_cast<const QLabel *>(w))
            return !label->text().isEmpty() || !label->pixmap(Qt::ReturnByValue).isNull();
        return qobject_cast<const QAbstractButton *>(w) || qobject_cast<const QGroupBox *>(w)
            || qobject_cast<const QAbstractItemView *>(w);
    };
    for (const QWidget *parent : top->findChildren<QWidget *>()) {
        QList<const QWidget *> children;
        for (const QObject *object : parent->children()) {
            const auto *w = qobject_cast<const QWidget *>(object);
            if (w && !w->isWindow() && w->isVisibleTo(top) && !w->geometry().isEmpty())
                children << w;
        }
        for (int i = 0; i < children.size(); ++i) {
            for (int j = i + 1; j < children.size(); ++j) {
                const QWidget *a = children.at(i);
                const QWidget *b = children.at(j);
                // Frames that share their edge pixel (buttons in a row) do not count.
                const QRect common = a->geometry().intersected(b->geometry());
                if (shows(a) && shows(b) && common.width() > 1 && common.height() > 1)
                    crossing << a->objectName() + QStringLiteral(" / ") + b->objectName();
            }
        }
    }
    return crossing;
}

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

QStringList listedNames(const QTableView *view)
{
    QStringList names;
    const QAbstractItemModel *model = view->model();
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    names.sort();
    return names;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void firstStartWithoutSetting();
    void formWidgets_data();
    void formWidgets();
    void formDetails();
    void layoutsFollowTheForm();
    void grabWindow();
    void settingRoundTrip();
    void cancelledDirectoryChangesNothing();
    void missingDirectoryListsNothing();
    void importDialogThenRelist();
    void aboutBox();
    void saveImage_data();
    void saveImage();
    void saveImageCancelledBeforeAnyName();
    void saveImageStopsAfterCancelledSecondDialog();
    void saveImageName_data();
    void saveImageName();
    void workingDirectoryState_data();
    void workingDirectoryState();
    void realDirectoryDialog();
    void realSaveDialog();
    void saveFullFrame();
    void fitsTheScreen_data();
    void fitsTheScreen();
    void destroyedWhileShown();
    void textsFit();

private:
    void createWindow();
    // Runs `handle` on the next modal dialog, from the dialog's own event loop.
    void whenModal(const std::function<void(QWidget *)> &handle);
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void writeSetting(const QString &value);
    QVariant readSetting() const;
    void showPicture(cv::Mat picture) { m_window->playback->showPicture(picture); }
    QImage shownPicture() const;

    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<MainWindow> m_window;
    // One window for all rows of the form table.
    std::unique_ptr<MainWindow> m_formWindow;
    ScriptedDialogs *m_dialogs = nullptr;
};

void TestMainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TestMainWindow::cleanupTestCase()
{
    m_formWindow.reset();
}

void TestMainWindow::init()
{
    QFile::remove(m_settingsDir.filePath(QStringLiteral("Tolvane/Kestrin.conf")));
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
}

void TestMainWindow::cleanup()
{
    m_window.reset();
    m_dialogs = nullptr;
    m_work.reset();
}

void TestMainWindow::createWindow()
{
    m_window = std::make_unique<MainWindow>();
    auto dialogs = std::make_unique<ScriptedDialogs>();
    m_dialogs = dialogs.get();
    m_window->setFileDialogs(std::move(dialogs));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // The offscreen screen is smaller than the form: as on a desktop of 1280 x 800.
    m_window->fitTo(QRect(0, 0, 1280, 800));
}

void TestMainWindow::whenModal(const std::function<void(QWidget *)> &handle)
{
    auto *poll = new QTimer(this);
    poll->setInterval(10);
    connect(poll, &QTimer::timeout, this, [poll, handle] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            handle(modal);
        }
    });
    poll->start();
}

void TestMainWindow::writeSetting(const QString &value)
{
    SettingsStore::open()->setValue(QStringLiteral("currentPath"), value);
}

QVariant TestMainWindow::readSetting() const
{
    return SettingsStore::open()->value(QStringLiteral("currentPath"));
}

QImage TestMainWindow::shownPicture() const
{
    const QGraphicsScene *scene = child<GraphicsViewMouse>("gv_video")->scene();
    if (!scene || scene->items().size() != 1)
        return QImage();
    const auto *item = qgraphicsitem_cast<const QGraphicsPixmapItem *>(scene->items().first());
    return item ? item->pixmap().toImage() : QImage();
}

void TestMainWindow::firstStartWithoutSetting()
{
    // A video in the current directory must not be listed for an empty path.
    const QString previousCurrent = QDir::currentPath();
    QVERIFY(touch(m_work->filePath(QStringLiteral("stray.mp4"))));
    QDir::setCurrent(m_work->path());
    createWindow();
    QDir::setCurrent(previousCurrent);

    QVERIFY(child<QLineEdit>("le_videofile")->text().isEmpty());
    QCOMPARE(child<QTableView>("tv_file")->model()->rowCount(), 0);
    QCOMPARE(child<QTableView>("tv_file")->model()->columnCount(), 3);
    QVERIFY(!readSetting().isValid());

    // Every control that does something is disabled, except these; "Import"
    // needs a working directory to import into.
    const QStringList usable { QStringLiteral("pb_videofile"), QStringLiteral("pb_about"),
        QStringLiteral("cb_hankview"), QStringLiteral("tv_file"), QStringLiteral("pb_summary"),
        QStringLiteral("pb_review"), QStringLiteral("cb_savetracks") };
    QStringList enabled;
    QStringList controls;
    for (QWidget *widget : m_window->findChildren<QWidget *>()) {
        const bool control = qobject_cast<QAbstractButton *>(widget)
            || qobject_cast<QAbstractSlider *>(widget) || qobject_cast<QComboBox *>(widget)
            || qobject_cast<QAbstractItemView *>(widget) || qobject_cast<QGraphicsView *>(widget);
        // Scroll bars and header views belong to their views.
        if (!control || widget->objectName().isEmpty()
            || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        controls << widget->objectName();
        if (widget->isEnabledTo(m_window.get()))
            enabled << widget->objectName();
    }
    enabled.sort();
    QStringList expected = usable;
    expected << QStringLiteral("gv_video");
    expected.sort();
    QCOMPARE(enabled, expected);
    QCOMPARE(controls.size(), 29);

    QVERIFY(child<QLabel>("la_mouse")->text().isEmpty());
    QCOMPARE(child<QLabel>("la_version")->text(), QStringLiteral("Version ") + kestrin::version());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Kestrin"));
    QCOMPARE(child<QComboBox>("cb_process_conf")->currentIndex(), 0);
    QCOMPARE(child<QComboBox>("cb_process_conf")->currentText(),
        QStringLiteral("only unprocessed files"));
    QCOMPARE(child<QStackedWidget>("stackedWidget")->currentWidget(), child<QWidget>("admin_page"));
}

void TestMainWindow::formWidgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("text");

    const QString page = QStringLiteral("admin_page");
    auto row = [](const char *name, const char *cls, const QString &parent, QRect rect,
                   const QString &text) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << parent
                            << rect << text;
    };
    row("stackedWidget", "QStackedWidget", QStringLiteral("centralWidget"),
        QRect(-5, 20, 1191, 700), QString());
    row("layoutWidget_5", "QWidget", page, QRect(10, 10, 531, 25), QString());
    row("pb_Import", "QPushButton", page, QRect(560, 10, 75, 23), QStringLiteral("Import"));
    row("la_mouse", "QLabel", page, QRect(642, 10, 148, 20), QString());
    row("cb_hankview", "QCheckBox", page, QRect(792, 10, 148, 20),
        QStringLiteral("Display trajectories"));
    row("la_file_selected", "QLabel", page, QRect(290, 40, 641, 20), QString());
    row("tv_file", "QTableView", page, QRect(5, 60, 281, 481), QString());
    row("gv_video", "GraphicsViewMouse", page, QRect(290, 60, 642, 482), QString());
    row("hs_frame", "QSlider", page, QRect(290, 550, 641, 20), QString());
    // The counting choice takes the right part of the processing choice's place.
    row("cb_process_conf", "QComboBox", page, QRect(10, 570, 181, 22), QString());
    row("cb_counting", "QComboBox", page, QRect(195, 570, 136, 22), QString());
    row("pushButton_2", "QPushButton", page, QRect(335, 570, 90, 23), QStringLiteral("Save image"));
    row("layoutWidget", "QWidget", page, QRect(430, 570, 401, 25), QString());
    row("la_Num_Frame", "QLabel", page, QRect(866, 567, 74, 22), QString());
    row("pb_algo", "QPushButton", page, QRect(60, 610, 101, 23), QStringLiteral("Process"));
    row("la_imgkrn", "QLabel", page, QRect(250, 610, 250, 40), QString());
    row("la_version", "QLabel", page, QRect(520, 610, 88, 18),
        QStringLiteral("Version ") + kestrin::version());
    row("la_imgqorel", "QLabel", page, QRect(610, 610, 122, 48), QString());
    row("pb_about", "QPushButton", page, QRect(510, 630, 75, 23), QStringLiteral("About"));
    row("la_count", "QLabel", page, QRect(700, 330, 46, 13), QString());
    row("groupBox_4", "QGroupBox", page, QRect(940, 0, 231, 64),
        QStringLiteral("Video properties"));
    row("layoutWidget_2", "QWidget", QStringLiteral("groupBox_4"), QRect(10, 20, 211, 40),
        QString());
    row("groupBox", "QGroupBox", page, QRect(950, 66, 231, 51), QStringLiteral("Counting box"));
    row("groupBox_2", "QGroupBox", page, QRect(950, 118, 231, 51), QStringLiteral("Tracking box "));
    row("groupBox_5", "QGroupBox", page, QRect(950, 170, 231, 51), QStringLiteral("Shift mask "));
    row("groupBox_3", "QGroupBox", page, QRect(950, 224, 241, 431), QStringLiteral("Events"));
    row("tv_result", "QTableView", QStringLiteral("groupBox_3"), QRect(0, 20, 241, 331), QString());
    row("te_error", "QTextEdit", QStringLiteral("groupBox_3"), QRect(0, 356, 241, 65), QString());

    const QStringList starts { QStringLiteral("Start"), QStringLiteral("Save"),
        QStringLiteral("Cancel") };
    const char *const boxButtons[3][4]
        = { { "groupBox", "pb_cleararea", "pb_savearea", "pb_cancelarea" },
              { "groupBox_2", "pb_clearmask", "pb_savemask", "pb_cancelmask" },
              { "groupBox_5", "pb_movebox", "pb_savebox", "pb_cancelbox" } };
    for (const auto &group : boxButtons) {
        for (int i = 0; i < 3; ++i)
            row(group[i + 1], "QPushButton", QString::fromLatin1(group[0]),
                QRect(10 + 60 * i, 20, 61, 23), starts.at(i));
    }
}

void TestMainWindow::formWidgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QRect, rect);
    QFETCH(QString, text);

    if (!m_formWindow) {
        m_formWindow = std::make_unique<MainWindow>();
        m_formWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_formWindow.get()));
        m_formWindow->fitTo(QRect(0, 0, 1280, 800));
    }
    const QWidget *widget = m_formWindow->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    QCOMPARE(widget->geometry(), rect);
    const char *textProperty = qobject_cast<const QGroupBox *>(widget) ? "title" : "text";
    if (widget->metaObject()->indexOfProperty(textProperty) >= 0)
        QCOMPARE(widget->property(textProperty).toString(), text);
    else
        QVERIFY(text.isEmpty());
}

void TestMainWindow::formDetails()
{
    createWindow();
    QCOMPARE(m_window->size(), QSize(1200, 710));
    QCOMPARE(m_window->minimumSize(), QSize(1200, 710));
    QCOMPARE(m_window->maximumSize(), QSize(1200, 710));
    QVERIFY(m_window->statusBar());
    QCOMPARE(m_window->statusBar()->objectName(), QStringLiteral("statusBar"));
    const auto *action = child<QAction>("actionAbout");
    QVERIFY(action);
    QCOMPARE(action->text(), QStringLiteral("About"));
    QVERIFY(!m_window->windowIcon().isNull());

    QVERIFY(child<QLineEdit>("le_videofile")->isReadOnly());
    QVERIFY(child<QTextEdit>("te_error")->isReadOnly());
    QCOMPARE(child<QTableView>("tv_file")->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(child<QTableView>("tv_result")->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(child<QTableView>("tv_result")->lineWidth(), 1);
    QCOMPARE(child<QSlider>("hs_frame")->orientation(), Qt::Horizontal);
    QCOMPARE(child<QLabel>("la_Num_Frame")->font().pointSize(), 12);
    QVERIFY(qobject_cast<GraphicsViewMouse *>(child<QWidget>("gv_video")));

    // What a newcomer asks these do.
    for (const char *name :
        { "pb_summary", "pb_review", "pb_Import", "pb_videofile", "cb_hankview" })
        QVERIFY2(!child<QWidget>(name)->toolTip().isEmpty(), name);

    const QComboBox *combo = child<QComboBox>("cb_process_conf");
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(0), QStringLiteral("only unprocessed files"));
    QCOMPARE(combo->itemText(1), QStringLiteral("only one file"));
    QCOMPARE(combo->itemText(2), QStringLiteral("all files"));

    // The logos fit their boxes, keeping their proportions.
    const QPixmap maker = child<QLabel>("la_imgkrn")->pixmap(Qt::ReturnByValue);
    QCOMPARE(maker.width(), 240);
    QVERIFY(maker.height() <= 40 && qAbs(maker.height() - 240 * 77 / 521) <= 1);
    const QPixmap partner = child<QLabel>("la_imgqorel")->pixmap(Qt::ReturnByValue);
    QVERIFY(!partner.isNull());
    QVERIFY(partner.width() <= 122 && partner.height() <= 48);
    QVERIFY(partner.width() == 122 || partner.height() == 48);
}

void TestMainWindow::layoutsFollowTheForm()
{
    createWindow();
    auto inside = [](const QWidget *widget) {
        return widget->parentWidget()->rect().contains(widget->geometry());
    };

    // Working directory row: caption, path, button from left to right.
    const QWidget *caption = child<QLabel>("label");
    const QWidget *path = child<QLineEdit>("le_videofile");
    const QWidget *choose = child<QPushButton>("pb_videofile");
    QCOMPARE(caption->parentWidget(), child<QWidget>("layoutWidget_5"));
    QCOMPARE(child<QLabel>("label")->text(), QStringLiteral("Working directory"));
    QCOMPARE(child<QPushButton>("pb_videofile")->text(), QStringLiteral("..."));
    QVERIFY(inside(caption) && inside(path) && inside(choose));
    QVERIFY(caption->geometry().right() < path->geometry().left());
    QVERIFY(path->geometry().right() < choose->geometry().left());

    // Playback buttons, left to right.
    const char *const playback[] = { "pb_slow_reverse", "pb_fast_reverse", "pb_play_pause",
        "pb_fast_forward", "pb_slow_forward" };
    const QStringList captions { QStringLiteral("<"), QStringLiteral("<<"), QStringLiteral("Play"),
        QStringLiteral(">>"), QStringLiteral(">") };
    int left = -1;
    for (int i = 0; i < 5; ++i) {
        const auto *button = child<QPushButton>(playback[i]);
        QCOMPARE(button->parentWidget(), child<QWidget>("layoutWidget"));
        QCOMPARE(button->text(), captions.at(i));
        QVERIFY(inside(button));
        QVERIFY(button->geometry().left() > left);
        left = button->geometry().right();
    }

    // Video properties: captions before their values, two rows of two.
    const char *const pairs[4][3]
        = { { "label_2", "Width:", "la_width" }, { "label_6", "Fps:", "la_fps" },
              { "label_4", "Height:", "la_height" }, { "label_8", "Frame:", "la_frame" } };
    QList<QRect> cells;
    for (const auto &pair : pairs) {
        const auto *label = child<QLabel>(pair[0]);
        const auto *value = child<QLabel>(pair[2]);
        QCOMPARE(label->text(), QString::fromLatin1(pair[1]));
        QVERIFY(value->text().isEmpty());
        QCOMPARE(label->parentWidget(), child<QWidget>("layoutWidget_2"));
        QVERIFY(inside(label) && inside(value));
        QVERIFY(label->geometry().right() < value->geometry().left());
        cells << label->geometry();
    }
    QCOMPARE(cells.at(0).top(), cells.at(1).top());
    QVERIFY(cells.at(0).left() < cells.at(1).left());
    QVERIFY(cells.at(2).top() > cells.at(0).bottom());
    QCOMPARE(cells.at(2).left(), cells.at(0).left());
}

void TestMainWindow::grabWindow()
{
    createWindow();
    const QPixmap shot = m_window->grab();
    QCOMPARE(shot.size(), QSize(1200, 710));
    const QString file
        = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("mainwindow.png"));
    QVERIFY(shot.save(file));
    // The maker logo is drawn where the form puts it: not all one colour.
    const QImage image = shot.toImage();
    const QPoint logoAt = child<QLabel>("la_imgkrn")->mapTo(m_window.get(), QPoint(0, 0));
    bool varied = false;
    const QRgb first = image.pixel(logoAt + QPoint(1, 1));
    for (int x = 0; x < 240 && !varied; x += 3)
        varied = image.pixel(logoAt + QPoint(x, 18)) != first;
    QVERIFY(varied);
}

void TestMainWindow::settingRoundTrip()
{
    QVERIFY(touch(m_work->filePath(QStringLiteral("a.mp4"))));
    QVERIFY(touch(m_work->filePath(QStringLiteral("b.mp4"))));
    QVERIFY(
        testfiles::write(m_work->filePath(QStringLiteral("exportCSV/a_area.krn")), "1,2\n3,4\n"));
    QVERIFY(testfiles::write(
        m_work->filePath(QStringLiteral("exportCSV/a_mask.krn")), "1,2\n30,4\n5,60\n"));

    createWindow();
    m_dialogs->directoryAnswers << m_work->path();
    QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
    QCOMPARE(m_dialogs->directoryStarts, QStringList { QString() });
    QCOMPARE(child<QLineEdit>("le_videofile")->text(), m_work->path());
    QCOMPARE(readSetting().toString(), m_work->path());
    const auto *files = child<QTableView>("tv_file");
    QCOMPARE(listedNames(files), (QStringList { QStringLiteral("a"), QStringLiteral("b") }));
    // The store is the isolated one of this test.
    QVERIFY(QFile::exists(m_settingsDir.filePath(QStringLiteral("Tolvane/Kestrin.conf"))));

    // The next start shows the directory and lists it at once.
    m_window.reset();
    createWindow();
    files = child<QTableView>("tv_file");
    QCOMPARE(child<QLineEdit>("le_videofile")->text(), m_work->path());
    QCOMPARE(listedNames(files), (QStringList { QStringLiteral("a"), QStringLiteral("b") }));
    for (int row = 0; row < 2; ++row) {
        const QString name = files->model()->index(row, 0).data().toString();
        QCOMPARE(files->model()->index(row, 1).data().toString(),
            name == QLatin1String("a") ? QStringLiteral("Y") : QStringLiteral("N"));
    }

    // The directory dialog opens on the stored directory.
    QTemporaryDir other;
    m_dialogs->directoryAnswers << other.path();
    QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
    QCOMPARE(m_dialogs->directoryStarts, QStringList { m_work->path() });
    QCOMPARE(readSetting().toString(), other.path());
    QCOMPARE(files->model()->rowCount(), 0);
}

void TestMainWindow::cancelledDirectoryChangesNothing()
{
    writeSetting(m_work->path());
    QVERIFY(touch(m_work->filePath(QStringLiteral("a.mp4"))));
    createWindow();
    QCOMPARE(child<QTableView>("tv_file")->model()->rowCount(), 1);

    QVERIFY(touch(m_work->filePath(QStringLiteral("b.mp4"))));
    QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
    QCOMPARE(m_dialogs->directoryStarts.size(), 1);
    QCOMPARE(child<QLineEdit>("le_videofile")->text(), m_work->path());
    QCOMPARE(readSetting().toString(), m_work->path());
}

void TestMainWindow::missingDirectoryListsNothing()
{
    const QString missing = m_work->filePath(QStringLiteral("gone/away"));
    writeSetting(missing);
    createWindow();
    QCOMPARE(child<QLineEdit>("le_videofile")->text(), missing);
    QCOMPARE(child<QTableView>("tv_file")->model()->rowCount(), 0);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    for (QWidget *top : QApplication::topLevelWidgets())
        QVERIFY(!(qobject_cast<QMessageBox *>(top) && top->isVisible()));
}

void TestMainWindow::importDialogThenRelist()
{
    writeSetting(m_work->path());
    createWindow();
    QCOMPARE(listedNames(child<QTableView>("tv_file")), QStringList());
    QString dialogName;
    whenModal([&](QWidget *dialog) {
        dialogName = dialog->objectName();
        // A video that turns up while the dialog is open is listed once it closes.
        QVERIFY(touch(m_work->filePath(QStringLiteral("new.mp4"))));
        auto *close = dialog->findChild<QPushButton *>(QStringLiteral("pb_Close"));
        QVERIFY(close);
        QTest::mouseClick(close, Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("pb_Import"), Qt::LeftButton);
    QCOMPARE(dialogName, QStringLiteral("ImportWindow"));
    QCOMPARE(listedNames(child<QTableView>("tv_file")), QStringList { QStringLiteral("new") });
}

void TestMainWindow::aboutBox()
{
    createWindow();
    QString text;
    bool modal = false;
    whenModal([&](QWidget *dialog) {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        if (!box)
            return dialog->close(), void();
        text = box->text();
        modal = box->isModal();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("pb_about"), Qt::LeftButton);
    QVERIFY(modal);
    QCOMPARE(text.section(QLatin1Char('\n'), 0, 0),
        QStringLiteral("Version %1 25/08/2015").arg(kestrin::version()));
    QVERIFY(text.count(QLatin1Char('\n')) >= 1);
}

void TestMainWindow::saveImage_data()
{
    QTest::addColumn<bool>("zoom");
    QTest::addColumn<QSize>("picture");

    QTest::newRow("scaled") << false << QSize(640, 360);
    QTest::newRow("zoomed") << true << QSize(640, 480);
}

void TestMainWindow::saveImage()
{
    QFETCH(bool, zoom);
    QFETCH(QSize, picture);

    createWindow();
    const QString target = m_work->filePath(QStringLiteral("shown.png"));
    m_dialogs->saveAnswers << target;
    // The button becomes usable once a video is open; here it is opened by hand.
    auto *save = child<QPushButton>("pushButton_2");
    save->setEnabled(true);
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(m_dialogs->saveCalls.size(), 1);
    QCOMPARE(m_dialogs->saveCalls.first().mid(0, 2),
        (QStringList { QStringLiteral("Save as..."), QStringLiteral("jpg (*.jpg)") }));
    QVERIFY(!QFile::exists(target));

    m_window->playback->geometry.setFromFrameSize(1920, 1080);
    m_window->playback->setZoom(zoom, cv::Point(1900, 1000));
    cv::Mat frame(1080, 1920, CV_8UC3, cv::Scalar(40, 80, 120));
    frame(cv::Rect(1600, 900, 320, 180)).setTo(cv::Scalar(250, 10, 10));
    showPicture(frame);

    const cv::Mat saved = cv::imread(QFile::encodeName(target).toStdString());
    QCOMPARE(QSize(saved.cols, saved.rows), picture);
    const QImage shown = shownPicture();
    QCOMPARE(shown.size(), picture);
    for (const QPoint &p :
        { QPoint(0, 0), QPoint(picture.width() - 1, picture.height() - 1), QPoint(100, 50) }) {
        const cv::Vec3b bgr = saved.at<cv::Vec3b>(p.y(), p.x());
        QCOMPARE(shown.pixel(p), qRgb(bgr[2], bgr[1], bgr[0]));
    }

    // Every later picture overwrites the file.
    showPicture(cv::Mat(1080, 1920, CV_8UC3, cv::Scalar(5, 6, 7)));
    const cv::Mat latest = cv::imread(QFile::encodeName(target).toStdString());
    QCOMPARE(latest.at<cv::Vec3b>(10, 10), cv::Vec3b(5, 6, 7));
}

void TestMainWindow::saveImageName_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("written");
    QTest::addColumn<bool>("saved");

    QTest::newRow("jpg kept") << "shot.jpg"
                              << "shot.jpg" << true;
    QTest::newRow("png kept") << "shot.png"
                              << "shot.png" << true;
    QTest::newRow("no suffix") << "shot"
                               << "shot.jpg" << true;
    QTest::newRow("not an image suffix") << "shot.txt"
                                         << "shot.txt.jpg" << true;
    QTest::newRow("dotted folder, no suffix") << "a.b/shot"
                                              << "a.b/shot.jpg" << true;
    QTest::newRow("missing folder") << "none/shot.jpg"
                                    << "none/shot.jpg" << false;
}

void TestMainWindow::saveImageName()
{
    QFETCH(QString, answer);
    QFETCH(QString, written);
    QFETCH(bool, saved);

    QVERIFY(QDir(m_work->path()).mkdir(QStringLiteral("a.b")));
    createWindow();
    m_dialogs->saveAnswers << m_work->filePath(answer);
    auto *save = child<QPushButton>("pushButton_2");
    save->setEnabled(true);
    QTest::mouseClick(save, Qt::LeftButton);
    if (!saved)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not saved to")));
    showPicture(cv::Mat(480, 640, CV_8UC3, cv::Scalar(1, 2, 3)));

    const QString target = m_work->filePath(written);
    QCOMPARE(QFileInfo::exists(target), saved);
    if (saved)
        QVERIFY(!cv::imread(QFile::encodeName(target).toStdString()).empty());
    // A failed save is said, naming the file.
    const QString said = m_window->statusBar()->currentMessage();
    QCOMPARE(said.contains(QDir::toNativeSeparators(target)), !saved);
}

void TestMainWindow::workingDirectoryState_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("import");
    QTest::addColumn<QString>("said");

    QTest::newRow("none chosen") << QString() << QStringList() << false << "Choose a working";
    QTest::newRow("missing") << "gone" << QStringList() << false << "does not exist";
    QTest::newRow("no video") << "work" << QStringList { "notes.txt", "clip.avi" } << true
                              << "holds no .mp4";
    QTest::newRow("videos") << "work" << QStringList { "clip.mp4" } << true << QString();
}

void TestMainWindow::workingDirectoryState()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, files);
    QFETCH(bool, import);
    QFETCH(QString, said);

    const QString path = folder.isEmpty() ? QString() : m_work->filePath(folder);
    if (folder == QLatin1String("work"))
        QVERIFY(QDir(m_work->path()).mkdir(folder));
    for (const QString &name : files)
        QVERIFY(touch(path + QLatin1Char('/') + name));
    writeSetting(path);
    createWindow();
    QCOMPARE(child<QPushButton>("pb_Import")->isEnabled(), import);
    const QString message = m_window->statusBar()->currentMessage();
    QVERIFY2(said.isEmpty() ? message.isEmpty() : message.contains(said), qPrintable(message));
    // Without a folder, "Import" does nothing even when called.
    if (!import)
        QVERIFY(QMetaObject::invokeMethod(m_window.get(), "Import"));

    // Another folder, chosen through "...", says its own state.
    QVERIFY(touch(m_work->filePath(QStringLiteral("other/a.mp4"))));
    m_dialogs->directoryAnswers << m_work->filePath(QStringLiteral("other"));
    QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
    QVERIFY(m_window->statusBar()->currentMessage().isEmpty());
    QVERIFY(child<QPushButton>("pb_Import")->isEnabled());
}

void TestMainWindow::saveImageCancelledBeforeAnyName()
{
    createWindow();
    auto *save = child<QPushButton>("pushButton_2");
    save->setEnabled(true);
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(m_dialogs->saveCalls.size(), 1);

    const QString previousCurrent = QDir::currentPath();
    QDir::setCurrent(m_work->path());
    showPicture(cv::Mat(480, 640, CV_8UC3, cv::Scalar(1, 2, 3)));
    QDir::setCurrent(previousCurrent);
    QVERIFY(QDir(m_work->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(shownPicture().size(), QSize(640, 480));
}

void TestMainWindow::saveImageStopsAfterCancelledSecondDialog()
{
    createWindow();
    const QString first = m_work->filePath(QStringLiteral("first.jpg"));
    const QString third = m_work->filePath(QStringLiteral("third.jpg"));
    m_dialogs->saveAnswers << first << QString() << third;
    auto *save = child<QPushButton>("pushButton_2");
    save->setEnabled(true);

    QTest::mouseClick(save, Qt::LeftButton);
    showPicture(cv::Mat(480, 640, CV_8UC3, cv::Scalar(1, 2, 3)));
    QVERIFY(QFile::exists(first));
    QVERIFY(QFile::remove(first));

    QTest::mouseClick(save, Qt::LeftButton);
    const QString previousCurrent = QDir::currentPath();
    QDir::setCurrent(m_work->path());
    showPicture(cv::Mat(480, 640, CV_8UC3, cv::Scalar(4, 5, 6)));
    QDir::setCurrent(previousCurrent);
    QVERIFY(QDir(m_work->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    // The display went on.
    QCOMPARE(shownPicture().pixel(1, 1), qRgb(6, 5, 4));

    // A name chosen later starts the saving again.
    QTest::mouseClick(save, Qt::LeftButton);
    showPicture(cv::Mat(480, 640, CV_8UC3, cv::Scalar(7, 8, 9)));
    QVERIFY(QFile::exists(third));
    QVERIFY(!QFile::exists(first));
}

void TestMainWindow::realDirectoryDialog()
{
    QVERIFY(QDir(m_work->path()).mkdir(QStringLiteral("videos")));
    const QString chosen = m_work->filePath(QStringLiteral("videos"));
    QVERIFY(touch(chosen + QStringLiteral("/a.mp4")));
    writeSetting(m_work->path());
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    bool checked = false;
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog)
            return modal->close(), void();
        const auto *tree = dialog->findChild<QTreeView *>();
        checked = dialog->fileMode() == QFileDialog::Directory
            && dialog->testOption(QFileDialog::ShowDirsOnly)
            && dialog->viewMode() == QFileDialog::Detail
            && QDir(dialog->directory()) == QDir(m_work->path())
            && dialog->parentWidget() == nullptr && tree && tree->rootIsDecorated()
            && tree->itemsExpandable();
        // Typed into the name field, as a user would. selectFile() leaves that
        // field alone once it has the focus, and whether the dialog has been
        // activated by now depends on how loaded the machine is: accept()
        // would then take the folder shown instead.
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name)
            return dialog->reject(), void();
        name->setText(QFileInfo(chosen).fileName());
        static_cast<QDialog *>(dialog)->accept();
    });
    QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
    QVERIFY(checked);
    QCOMPARE(QDir(child<QLineEdit>("le_videofile")->text()), QDir(chosen));
    QCOMPARE(QDir(readSetting().toString()), QDir(chosen));
    QCOMPARE(child<QTableView>("tv_file")->model()->rowCount(), 1);
}

void TestMainWindow::textsFit()
{
    // The fonts of a stock desktop: DejaVu Sans at Qt's default size on an X
    // server, 9 points (the offscreen platform's own default is larger).
    const QFont before = QApplication::font();
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    QApplication::setFont(font);
    QVERIFY2(QFontInfo(font).family() == QLatin1String("DejaVu Sans"), "DejaVu Sans is missing");
    createWindow();

    // The texts the window shows at their longest.
    child<QLabel>("la_mouse")->setText(QStringLiteral("mouse x: 3840 y:2160"));
    child<QLabel>("la_Num_Frame")->setText(QStringLiteral("999999"));
    child<QLabel>("la_width")->setText(QStringLiteral("3840"));
    child<QLabel>("la_height")->setText(QStringLiteral("2160"));
    child<QLabel>("la_fps")->setText(QStringLiteral("29.97"));
    child<QLabel>("la_frame")->setText(QStringLiteral("999999"));
    child<QPushButton>("pb_play_pause")->setText(QStringLiteral("Pause"));
    child<QPushButton>("pb_algo")->setText(QStringLiteral("Cancel"));
    const QStringList clipped = clippedTexts(m_window.get());
    const QStringList crossing = overlaps(m_window.get());
    const QStringList cut = outside(m_window.get());

    // The file table: names, the row numbers of a long list, and the two
    // state columns, side by side without a scroll bar.
    for (int i = 0; i < 120; ++i)
        QVERIFY(touch(m_work->filePath(
            QStringLiteral("video_20150612_0930_%1.mp4").arg(i, 3, 10, QLatin1Char('0')))));
    m_dialogs->directoryAnswers << m_work->path();
    QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
    const auto *files = child<QTableView>("tv_file");
    QApplication::processEvents();
    const int nameWidth = files->columnWidth(0);
    const int scrollsSideways = files->horizontalScrollBar()->maximum();
    const QString tip = files->model()->index(119, 0).data(Qt::ToolTipRole).toString();

    // The import dialog, with the longest texts it writes itself.
    ImportWindow import(m_work->path());
    import.show();
    QVERIFY(QTest::qWaitForWindowExposed(&import));
    const QStringList importClipped = clippedTexts(&import);
    const QStringList importCrossing = overlaps(&import);
    QApplication::setFont(before);
    QVERIFY2(importClipped.isEmpty(), qPrintable(importClipped.join(QLatin1Char('\n'))));
    QVERIFY2(importCrossing.isEmpty(), qPrintable(importCrossing.join(QLatin1Char('\n'))));

    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1Char('\n'))));
    QVERIFY2(crossing.isEmpty(), qPrintable(crossing.join(QLatin1Char('\n'))));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QLatin1Char(' '))));
    // Row numbers, names and both states side by side, nothing out of sight;
    // a name cut short shows whole in its tip.
    QCOMPARE(scrollsSideways, 0);
    QVERIFY2(nameWidth >= 150, qPrintable(QString::number(nameWidth)));
    QVERIFY(tip.startsWith(QLatin1String("video_20150612_0930_"))
        && tip.endsWith(QLatin1String(".mp4")));
    QVERIFY(files->verticalHeader()->isVisible());
}

void TestMainWindow::realSaveDialog()
{
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QString title;
    QStringList filters;
    bool saving = false;
    whenModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog)
            return modal->close(), void();
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        saving = dialog->acceptMode() == QFileDialog::AcceptSave;
        dialog->reject();
    });
    auto *save = child<QPushButton>("pushButton_2");
    save->setEnabled(true);
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Save as..."));
    QCOMPARE(filters,
        (QStringList {
            QStringLiteral("jpg (*.jpg)"), QStringLiteral("Full frame, 0 x 0, once (*.jpg)") }));
    QVERIFY(saving);

    const QString previousCurrent = QDir::currentPath();
    QDir::setCurrent(m_work->path());
    showPicture(cv::Mat(480, 640, CV_8UC3, cv::Scalar(1, 2, 3)));
    QDir::setCurrent(previousCurrent);
    QVERIFY(QDir(m_work->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

void TestMainWindow::destroyedWhileShown()
{
    // Closing a shown window moves the focus out of the path field while the
    // window is being destroyed; the sanitizer build catches a slot run then.
    writeSetting(m_work->path());
    createWindow();
    auto *path = child<QLineEdit>("le_videofile");
    path->setFocus();
    QTRY_VERIFY(path->hasFocus());
    QSignalSpy finished(path, &QLineEdit::editingFinished);
    m_window.reset();
    QCOMPARE(finished.size(), 1);
}

void TestMainWindow::saveFullFrame()
{
    createWindow();
    const QString target = m_work->filePath(QStringLiteral("frame.png"));
    m_dialogs->saveAnswers << target;
    m_dialogs->imageKind = 1;
    m_window->playback->current = cv::Mat(1080, 1920, CV_8UC3, cv::Scalar(40, 80, 120));
    m_window->playback->frameWidth = 1920;
    m_window->playback->frameHeight = 1080;
    auto *save = child<QPushButton>("pushButton_2");
    save->setEnabled(true);
    QTest::mouseClick(save, Qt::LeftButton);

    const cv::Mat saved = cv::imread(QFile::encodeName(target).toStdString());
    QCOMPARE(QSize(saved.cols, saved.rows), QSize(1920, 1080));
    QCOMPARE(saved.at<cv::Vec3b>(1000, 1900), cv::Vec3b(40, 80, 120));
    // Once: the pictures shown later are not saved.
    QVERIFY(m_window->playback->savedTo().isEmpty());
}

void TestMainWindow::fitsTheScreen_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<bool>("formSize");
    QTest::newRow("1024 x 768") << QSize(1024, 768) << false;
    QTest::newRow("1280 x 800") << QSize(1280, 800) << true;
    QTest::newRow("1920 x 1080") << QSize(1920, 1080) << true;
}

void TestMainWindow::fitsTheScreen()
{
    QFETCH(QSize, screen);
    QFETCH(bool, formSize);
    createWindow();
    m_window->fitTo(QRect(QPoint(0, 0), screen));
    QCOMPARE(m_window->size() == QSize(1200, 710), formSize);
    // With room for a title bar.
    QVERIFY(m_window->width() <= screen.width() && m_window->height() + 28 <= screen.height());

    // Every control can be brought into view, and then is wholly inside the window.
    auto *area = child<QScrollArea>("sa_page");
    const QRect shown(
        area->viewport()->mapTo(m_window.get(), QPoint(0, 0)), area->viewport()->size());
    int controls = 0;
    for (QWidget *control : area->widget()->findChildren<QWidget *>()) {
        if (!control->focusPolicy() || control->objectName().isEmpty()
            || control->objectName().startsWith(QLatin1String("qt_")))
            continue;
        area->ensureWidgetVisible(control, 0, 0);
        const QRect rect(control->mapTo(m_window.get(), QPoint(0, 0)), control->size());
        QVERIFY2(shown.contains(rect), qPrintable(control->objectName()));
        ++controls;
    }
    QVERIFY(controls >= 25);

    // Tab brings each control it reaches wholly into view, round to the left.
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    child<QWidget>("pb_about")->setFocus();
    area->horizontalScrollBar()->setValue(area->horizontalScrollBar()->maximum());
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QWidget *focus = QApplication::focusWidget();
        const QRect rect(focus->mapTo(area->viewport(), QPoint(0, 0)), focus->size());
        QVERIFY2(area->viewport()->rect().contains(rect), qPrintable(focus->objectName()));
    }
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
