#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace pellicar {

// A captioned group of radio buttons with one selected item, as one
// control. Its items are the radio buttons placed inside it, in the order
// of their object names.
class TRadioGroup : public QGroupBox {
  Q_OBJECT
public:
  explicit TRadioGroup(QWidget *parent = nullptr);

  // Collects the radio buttons now inside the group as its items; called
  // once the form has created them.
  void AdoptItems();

  int ItemIndex() const;
  // Selects an item without raising Click (-1: none).
  void SetItemIndex(int index);
  QStringList Items() const;
  QRadioButton *Item(int index) const;

signals:
  // The user selected an item other than the one selected before.
  void Click();

private:
  QButtonGroup *group_;
  int lastIndex_ = -1;
};

} // namespace pellicar
