#include "RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>

namespace krp {

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this))
{
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        group_->addButton(button, i);
    }
    layoutButtons();
}

int RadioGroup::itemIndex() const
{
    return group_->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (index >= 0 && index < count()) {
        group_->button(index)->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last button; lift that for a moment.
    group_->setExclusive(false);
    for (QAbstractButton* b : group_->buttons())
        b->setChecked(false);
    group_->setExclusive(true);
}

QStringList RadioGroup::items() const
{
    QStringList texts;
    for (QAbstractButton* b : group_->buttons())
        texts << b->text();
    return texts;
}

QRadioButton* RadioGroup::button(int index) const
{
    return qobject_cast<QRadioButton*>(group_->button(index));
}

int RadioGroup::count() const
{
    return static_cast<int>(group_->buttons().size());
}

void RadioGroup::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    layoutButtons();
}

void RadioGroup::layoutButtons()
{
    // Items share the area below the caption evenly, one per row.
    const int top = 16;
    const int n = count();
    if (n == 0)
        return;
    const int rowHeight = (height() - top - 4) / n;
    for (int i = 0; i < n; ++i) {
        QAbstractButton* b = group_->button(i);
        b->setGeometry(8, top + i * rowHeight + (rowHeight - 20) / 2, width() - 16, 20);
    }
}

}  // namespace krp
