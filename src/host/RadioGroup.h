#pragma once
// A captioned group of radio buttons with one selected item index (-1: none selected).
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace krp {

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    int itemIndex() const;
    void setItemIndex(int index);  // an index outside the items selects none
    QStringList items() const;
    QRadioButton* button(int index) const;
    int count() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutButtons();
    QButtonGroup* group_;
};

}  // namespace krp
