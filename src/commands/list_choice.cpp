#include "commands/list_choice.h"

#include <QString>

namespace pellicar {

EInvalidChoice::EInvalidChoice(const char *listName, int index, std::size_t count)
    : Exception(QStringLiteral("Item %1 is not in the list \"%2\" (items 0 to %3)")
                    .arg(index)
                    .arg(QString::fromUtf8(listName))
                    .arg(qsizetype(count) - 1)) {}

std::uint8_t CheckedChoice(const char *listName, int index, std::size_t count) {
  if (index < 0 || std::size_t(index) >= count)
    throw EInvalidChoice(listName, index, count);
  return static_cast<std::uint8_t>(index);
}

} // namespace pellicar
