#include "app/radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>

#include <algorithm>

namespace pellicar {

TRadioGroup::TRadioGroup(QWidget *parent) : QGroupBox(parent), group_(new QButtonGroup(this)) {
  connect(group_, &QButtonGroup::idClicked, this, [this](int id) {
    if (id == lastIndex_)
      return;
    lastIndex_ = id;
    emit Click();
  });
}

void TRadioGroup::AdoptItems() {
  QList<QRadioButton *> buttons =
      findChildren<QRadioButton *>(QString(), Qt::FindDirectChildrenOnly);
  std::sort(buttons.begin(), buttons.end(), [](const QRadioButton *a, const QRadioButton *b) {
    return a->objectName() < b->objectName();
  });
  for (QAbstractButton *old : group_->buttons())
    group_->removeButton(old);
  for (int i = 0; i < buttons.size(); ++i)
    group_->addButton(buttons[i], i);
  lastIndex_ = group_->checkedId();
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (QAbstractButton *button = group_->button(index)) {
    button->setChecked(true);
  } else if (QAbstractButton *checked = group_->checkedButton()) {
    group_->setExclusive(false);
    checked->setChecked(false);
    group_->setExclusive(true);
  }
  lastIndex_ = group_->checkedId();
}

QStringList TRadioGroup::Items() const {
  QStringList items;
  for (int i = 0; group_->button(i) != nullptr; ++i)
    items.append(group_->button(i)->text());
  return items;
}

QRadioButton *TRadioGroup::Item(int index) const {
  return qobject_cast<QRadioButton *>(group_->button(index));
}

} // namespace pellicar
