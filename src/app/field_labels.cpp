#include "app/field_labels.h"

#include "commands/integer_field.h"

namespace pellicar {

QString FieldName(const LabeledField &field) {
  QString name = QStringLiteral("the field \"%1\"").arg(field.label.trimmed());
  if (field.box > 0)
    name += QStringLiteral(" (box %1 of %2)").arg(field.box).arg(field.boxes);
  return name;
}

std::vector<LabeledField> FieldRow(const QString &label, const QStringList &texts, int firstBox,
                                   int boxes) {
  std::vector<LabeledField> row;
  for (qsizetype i = 0; i < texts.size(); ++i)
    row.push_back({label, texts[i], firstBox + int(i), boxes});
  return row;
}

void CheckIntegerFields(const std::vector<LabeledField> &fields) {
  for (const LabeledField &field : fields) {
    try {
      ConvertIntegerField(field.text);
    } catch (EConvertError &error) {
      error.setDetail(QStringLiteral("In %1.").arg(FieldName(field)));
      throw;
    }
  }
}

} // namespace pellicar
