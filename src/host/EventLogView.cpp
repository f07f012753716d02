#include "EventLogView.h"

#include "log/EventLog.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QScrollBar>

#include <algorithm>

namespace krp {

EventLogModel::EventLogModel(EventLog& log, QObject* parent) : QAbstractListModel(parent), log_(log)
{
    sync();
}

int EventLogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count_;
}

QVariant EventLogModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= count_)
        return {};
    return lineOfRow(index.row());
}

QString EventLogModel::lineOfRow(int row) const
{
    const QString line = log_.lineAt(first_ + row);
    return line.isNull() ? QString(QLatin1String("")) : line;
}

void EventLogModel::sync()
{
    const qint64 keptFirst = log_.firstSequence();
    const qint64 keptLast = log_.appendedCount();
    const qint64 drop = std::clamp<qint64>(keptFirst - first_, 0, count_);
    if (drop > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(drop - 1));
        first_ += drop;
        count_ -= static_cast<int>(drop);
        endRemoveRows();
    }
    if (count_ == 0)
        first_ = keptFirst;
    const qint64 add = keptLast - (first_ + count_ - 1);
    if (add > 0) {
        beginInsertRows(QModelIndex(), count_, static_cast<int>(count_ + add - 1));
        count_ += static_cast<int>(add);
        endInsertRows();
    }
}

EventLogView::EventLogView(EventLog& log, QWidget* parent) : QListView(parent), model_(new EventLogModel(log, this))
{
    setModel(model_);
    setUniformItemSizes(true);  // no row is measured: the rows' height is the font's
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    auto* copy = new QAction(this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, [this] { copySelection(); });
    addAction(copy);
}

void EventLogView::showNewLines()
{
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();
    model_->sync();
    if (atBottom)
        scrollToBottom();
}

QString EventLogView::toPlainText() const
{
    QStringList rows;
    for (int row = 0; row < model_->rowCount(); ++row)
        rows += model_->lineOfRow(row);
    return rows.join(QLatin1Char('\n'));
}

void EventLogView::copySelection() const
{
    QModelIndexList selected = selectionModel()->selectedRows();
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList rows;
    for (const QModelIndex& index : selected)
        rows += model_->lineOfRow(index.row());
    if (!rows.isEmpty())
        QApplication::clipboard()->setText(rows.join(QLatin1Char('\n')));
}

}  // namespace krp
