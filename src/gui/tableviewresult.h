#pragma once

#include <QObject>
#include <QPointer>
#include <QVector>

#include "imgproc/result.h"
#include "zones/reviewfile.h"

class QModelIndex;
class QStandardItemModel;
class QTableView;
class QTextEdit;

// Lists the counting events of the current video in a table view and writes
// the in and out totals into a text box. The model is rebuilt per update.
class TableViewResult final : public QObject
{
    Q_OBJECT

public:
    // Shows an empty table; view and text box belong to the caller.
    TableViewResult(QTableView *view, QTextEdit *counterText, QObject *parent);

    // At most the first 2001 records are listed; the totals cover all of them.
    void setResults(const QVector<Result> &results);
    // The same with totals over more events than the list holds (a count
    // file or a run past the list's limit); a line then says how many.
    void setResults(const QVector<Result> &results, int totalIn, int totalOut, int eventCount);

    // Colours each listed event by the review's decision on it (indexed as
    // the list given last); the tip names the decision.
    void markDecisions(const QVector<ReviewFile::Decision> &decisions);

signals:
    // The row (index into the last list given) that has just become current.
    void Result_Row_Changed(int irow);

public slots:
    void currentRowChanged(const QModelIndex &current, const QModelIndex &previous);

private:
    // A five-column model with its header items, parented to this object.
    QStandardItemModel *createModel();
    // Puts the model in the view, releasing the one shown before.
    void install(QStandardItemModel *model);

    QPointer<QTableView> view;
    QPointer<QTextEdit> counterText;
};
