#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace pellicar {

// An edit field that holds an integer, as the window shows it: the text of
// its label ("IP:") and, for a row of boxes under one label, which box.
struct LabeledField {
  QString label;
  QString text;
  int box = 0;   // 1-based; 0: the only box of its label
  int boxes = 0; // the boxes under the label
};

// Converts each field in order by the integer-field rule. The first one
// that fails raises the rule's conversion error, its message unchanged,
// with the field named by its label as the error's detail. Handlers call
// it before they build anything, so the builder's own conversion passes.
// Pure; any thread.
void CheckIntegerFields(const std::vector<LabeledField> &fields);

// A row of boxes under one label, the first of `texts` being box
// `firstBox` of `boxes`.
std::vector<LabeledField> FieldRow(const QString &label, const QStringList &texts, int firstBox,
                                   int boxes);

// "the field "IP:" (box 2 of 4)": how messages name a field.
QString FieldName(const LabeledField &field);

} // namespace pellicar
