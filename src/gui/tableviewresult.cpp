#include "tableviewresult.h"

#include <algorithm>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTableView>
#include <QTextEdit>

#include "reviewdelegate.h"

namespace {

const int maxRows = 2001; // records 0 to 2000
const int columnWidths[] = { 50, 40, 40, 30, 30 };

QStandardItem *numberItem(const QVariant &value)
{
    auto *item = new QStandardItem;
    item->setData(value, Qt::DisplayRole);
    return item;
}

} // namespace

TableViewResult::TableViewResult(QTableView *view, QTextEdit *counterText, QObject *parent)
    : QObject(parent)
    , view(view)
    , counterText(counterText)
{
    install(createModel());
    if (counterText != nullptr)
        counterText->setPlainText(tr("In Detected :0\rOut Detected : 0"));
}

void TableViewResult::setResults(const QVector<Result> &results)
{
    int totalIn = 0;
    int totalOut = 0;
    for (const Result &result : results) {
        totalIn += result.in;
        totalOut += result.out;
    }
    setResults(results, totalIn, totalOut, results.size());
}

void TableViewResult::setResults(
    const QVector<Result> &results, int totalIn, int totalOut, int eventCount)
{
    // Filled before it is shown, so the view is not updated row by row.
    QStandardItemModel *model = createModel();
    const int rows = std::min(results.size(), maxRows);
    model->setRowCount(rows);
    for (int i = 0; i < rows; ++i) {
        const Result &result = results.at(i);
        model->setItem(i, 0, numberItem(result.frame));
        model->setItem(i, 1, numberItem(result.x));
        model->setItem(i, 2, numberItem(result.y));
        model->setItem(i, 3, numberItem(result.in));
        model->setItem(i, 4, numberItem(result.out));
    }
    install(model);

    if (view != nullptr) {
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TableViewResult::currentRowChanged);
    }
    if (counterText != nullptr) {
        QString text = tr("In Detected :%1\rOut Detected : %2").arg(totalIn).arg(totalOut);
        if (eventCount > rows)
            text += QLatin1Char('\r')
                + tr("%1 events, the first %2 listed").arg(eventCount).arg(rows);
        counterText->setPlainText(text);
    }
}

void TableViewResult::markDecisions(const QVector<ReviewFile::Decision> &decisions)
{
    auto *model = view != nullptr ? qobject_cast<QStandardItemModel *>(view->model()) : nullptr;
    for (int row = 0; model != nullptr && row < std::min(model->rowCount(), decisions.size()); ++row) {
        const bool decided = decisions[row] != ReviewFile::Decision::Unreviewed;
        for (int column = 0; column < model->columnCount(); ++column) {
            QStandardItem *item = model->item(row, column);
            item->setData(decided ? QBrush(ReviewDelegate::decisionColor(decisions[row]).lighter(170))
                                  : QVariant(),
                Qt::BackgroundRole);
            item->setToolTip(decided ? ReviewFile::decisionName(decisions[row]) : QString());
        }
    }
}

void TableViewResult::currentRowChanged(const QModelIndex &current, const QModelIndex &previous)
{
    Q_UNUSED(previous)
    // A cleared current index is no row: -1 would index no record.
    if (!current.isValid())
        return;
    emit Result_Row_Changed(current.row());
}

QStandardItemModel *TableViewResult::createModel()
{
    auto *model = new QStandardItemModel(0, 5, this);
    const QStringList headers { tr("Frame"), tr("X"), tr("Y"), tr("In"), tr("Out") };
    for (int column = 0; column < headers.size(); ++column)
        model->setHorizontalHeaderItem(column, new QStandardItem(headers.at(column)));
    return model;
}

void TableViewResult::install(QStandardItemModel *model)
{
    if (view == nullptr) {
        model->deleteLater();
        return;
    }
    QAbstractItemModel *oldModel = view->model();
    QItemSelectionModel *oldSelection = view->selectionModel();
    // The old selection model must not report anything once replaced, not
    // even while the old model is torn down.
    if (oldSelection != nullptr)
        disconnect(oldSelection, nullptr, this, nullptr);

    view->setModel(model);
    // The style's minimum section size may exceed the narrow columns.
    QHeaderView *header = view->horizontalHeader();
    header->setMinimumSectionSize(std::min(header->minimumSectionSize(), 30));
    for (int column = 0; column < 5; ++column)
        view->setColumnWidth(column, columnWidths[column]);

    // Released later, not here: this may run inside a slot reached from the
    // old selection model's own signal.
    if (oldSelection != nullptr && oldSelection != view->selectionModel())
        oldSelection->deleteLater();
    if (oldModel != nullptr && oldModel->parent() == this)
        oldModel->deleteLater();
}
