#include <memory>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTextEdit>

#include "imgproc/result.h"
#include "tableviewresult.h"

namespace {

QVector<Result> makeResults(int count)
{
    QVector<Result> results;
    for (int i = 0; i < count; ++i) {
        Result r;
        r.frame = 91 + 7 * i;
        r.x = 10 + i % 300;
        r.y = 20 + i % 200;
        r.in = (i % 3 == 0) ? 1 : 0;
        r.out = (i % 5 == 0) ? 1 : 0;
        r.timestamp = QStringLiteral("2016-05-12_10:30:00");
        results.append(r);
    }
    return results;
}

} // namespace

class TestTableViewResult : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void constructedEmpty();
    void threeRecords();
    void emptyList();
    void limitsRowsButNotTotals();
    void clickingThirdRowEmitsTwo();
    void replacingResultsEmitsNothing();
    void oldModelIsReleased();

private:
    void showView();
    void clickRow(int row);

    std::unique_ptr<QTableView> view;
    std::unique_ptr<QTextEdit> text;
    std::unique_ptr<TableViewResult> table;
};

void TestTableViewResult::init()
{
    view = std::make_unique<QTableView>();
    text = std::make_unique<QTextEdit>();
    table = std::make_unique<TableViewResult>(view.get(), text.get(), nullptr);
}

void TestTableViewResult::cleanup()
{
    table.reset();
    view.reset();
    text.reset();
}

void TestTableViewResult::showView()
{
    view->resize(400, 300);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
}

void TestTableViewResult::clickRow(int row)
{
    const QRect cell = view->visualRect(view->model()->index(row, 1));
    QVERIFY(cell.isValid());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

void TestTableViewResult::constructedEmpty()
{
    QAbstractItemModel *model = view->model();
    QVERIFY(model != nullptr);
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->columnCount(), 5);
    const QStringList headers { QStringLiteral("Frame"), QStringLiteral("X"), QStringLiteral("Y"),
        QStringLiteral("In"), QStringLiteral("Out") };
    const int widths[] = { 50, 40, 40, 30, 30 };
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(model->headerData(c, Qt::Horizontal).toString(), headers.at(c));
        QCOMPARE(view->columnWidth(c), widths[c]);
    }
    QCOMPARE(text->toPlainText(), QStringLiteral("In Detected :0\nOut Detected : 0"));
}

void TestTableViewResult::threeRecords()
{
    QVector<Result> results(3);
    const int ins[] = { 1, 0, 1 };
    const int outs[] = { 0, 1, 0 };
    for (int i = 0; i < 3; ++i) {
        results[i].frame = 1234567 + i;
        results[i].x = 412 + i;
        results[i].y = 96 - i;
        results[i].in = ins[i];
        results[i].out = outs[i];
    }
    table->setResults(results);
    QAbstractItemModel *model = view->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->columnCount(), 5);
    QCOMPARE(model->headerData(4, Qt::Horizontal).toString(), QStringLiteral("Out"));
    QCOMPARE(view->columnWidth(0), 50);
    QCOMPARE(view->columnWidth(4), 30);
    for (int i = 0; i < 3; ++i) {
        // Numbers, not text: the view formats them.
        const QVariant frame = model->data(model->index(i, 0));
        QCOMPARE(static_cast<QMetaType::Type>(frame.type()), QMetaType::Double);
        QCOMPARE(frame.toDouble(), results[i].frame);
        const int expected[] = { results[i].x, results[i].y, results[i].in, results[i].out };
        for (int c = 1; c < 5; ++c) {
            const QVariant cell = model->data(model->index(i, c));
            QCOMPARE(static_cast<QMetaType::Type>(cell.type()), QMetaType::Int);
            QCOMPARE(cell.toInt(), expected[c - 1]);
        }
    }
    QCOMPARE(text->toPlainText(), QStringLiteral("In Detected :2\nOut Detected : 1"));
    QCOMPARE(view->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!view->selectionModel()->currentIndex().isValid());
}

void TestTableViewResult::emptyList()
{
    table->setResults(makeResults(4));
    table->setResults(QVector<Result>());
    QCOMPARE(view->model()->rowCount(), 0);
    QCOMPARE(view->model()->columnCount(), 5);
    QCOMPARE(text->toPlainText(), QStringLiteral("In Detected :0\nOut Detected : 0"));
}

void TestTableViewResult::limitsRowsButNotTotals()
{
    const QVector<Result> results = makeResults(2500);
    int totalIn = 0;
    int totalOut = 0;
    for (const Result &r : results) {
        totalIn += r.in;
        totalOut += r.out;
    }
    QVERIFY(totalIn > 0 && totalOut > 0 && totalIn != totalOut);
    table->setResults(results);
    QAbstractItemModel *model = view->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model->rowCount(), 2001);
    QCOMPARE(model->data(model->index(2000, 0)).toDouble(), results.at(2000).frame);
    QCOMPARE(model->data(model->index(2000, 1)).toInt(), results.at(2000).x);
    // The totals take all 2500, and a line says that not all are listed.
    QCOMPARE(text->toPlainText(),
        QStringLiteral("In Detected :%1\nOut Detected : %2\n2500 events, the first 2001 listed")
            .arg(totalIn)
            .arg(totalOut));

    // Exactly 2001 is not cut.
    table->setResults(makeResults(2001));
    QCOMPARE(view->model()->rowCount(), 2001);
    QVERIFY(!text->toPlainText().contains(QLatin1String("listed")));

    // Totals of a whole count file over a shorter list.
    table->setResults(makeResults(3), 40, 50, 90);
    QCOMPARE(view->model()->rowCount(), 3);
    QCOMPARE(text->toPlainText(),
        QStringLiteral("In Detected :40\nOut Detected : 50\n90 events, the first 3 listed"));
}

void TestTableViewResult::clickingThirdRowEmitsTwo()
{
    table->setResults(makeResults(5));
    showView();
    QSignalSpy spy(table.get(), &TableViewResult::Result_Row_Changed);
    clickRow(2);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);
    // The same row again is no change.
    clickRow(2);
    QCOMPARE(spy.count(), 1);
    clickRow(4);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 4);
    // Clearing the current row names no record.
    view->selectionModel()->clearCurrentIndex();
    QCOMPARE(spy.count(), 2);
}

void TestTableViewResult::replacingResultsEmitsNothing()
{
    table->setResults(makeResults(5));
    showView();
    QSignalSpy spy(table.get(), &TableViewResult::Result_Row_Changed);
    clickRow(2);
    QCOMPARE(spy.count(), 1);
    spy.clear();

    for (int i = 0; i < 4; ++i)
        table->setResults(makeResults(6 + i));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 0);
    QVERIFY(!view->selectionModel()->currentIndex().isValid());

    // One notification per change, however often the model was replaced.
    clickRow(1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 1);
}

void TestTableViewResult::oldModelIsReleased()
{
    table->setResults(makeResults(3));
    QPointer<QAbstractItemModel> oldModel = view->model();
    QPointer<QItemSelectionModel> oldSelection = view->selectionModel();
    table->setResults(makeResults(4));
    QVERIFY(view->model() != oldModel);
    // Until it is gone, the old selection model reports nothing any more.
    QSignalSpy spy(table.get(), &TableViewResult::Result_Row_Changed);
    QVERIFY(!oldSelection.isNull() && !oldModel.isNull());
    oldSelection->setCurrentIndex(oldModel->index(1, 0), QItemSelectionModel::SelectCurrent);
    QCOMPARE(spy.count(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(oldModel.isNull());
    QVERIFY(oldSelection.isNull());

    // Many updates leave one model behind. Deleting a model makes the header
    // views release their own selection models in turn, one round later.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int selectionModels = view->findChildren<QItemSelectionModel *>().size();
    for (int i = 0; i < 50; ++i)
        table->setResults(makeResults(i % 7));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(table->findChildren<QAbstractItemModel *>().size(), 1);
    QCOMPARE(view->findChildren<QItemSelectionModel *>().size(), selectionModels);
    QCOMPARE(view->model()->rowCount(), 49 % 7);
}

QTEST_MAIN(TestTableViewResult)
#include "test_tableviewresult.moc"
