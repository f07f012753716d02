#pragma once
// The window's view of the event log (memYhteydet): a list view over the log's own lines. The
// view keeps no copy of them; it asks the log for the rows it draws, so a full log of 100,000
// lines costs the window next to nothing. The operator selects rows and copies them (Ctrl+C).
#include <QAbstractListModel>
#include <QListView>

namespace krp {

class EventLog;

// The kept lines of `log` as rows, oldest first. sync() brings the rows up to date with the
// log (new lines in, dropped lines out); between two syncs a row dropped from the log reads
// as the empty text.
class EventLogModel : public QAbstractListModel {
public:
    explicit EventLogModel(EventLog& log, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void sync();
    // The text of `row`, as shown.
    QString lineOfRow(int row) const;

private:
    EventLog& log_;
    qint64 first_ = 1;  // the log's number of row 0
    int count_ = 0;
};

class EventLogView : public QListView {
public:
    explicit EventLogView(EventLog& log, QWidget* parent = nullptr);

    // Shows the lines appended since the last call; follows the newest line when the view was
    // scrolled to the bottom.
    void showNewLines();
    EventLogModel& logModel() const { return *model_; }
    // The rows shown, joined with line breaks (what Ctrl+C copies when all are selected).
    QString toPlainText() const;

private:
    void copySelection() const;
    EventLogModel* model_;
};

}  // namespace krp
