#include "cli/argument_reader.h"

#include "cli/cli_errors.h"

namespace pellicar {

QString TArgumentReader::ValueOf(const QString &option, const QString &context) {
  if (AtEnd())
    throw EUsageError(QStringLiteral("%1 needs a value").arg(option), context);
  return Next();
}

QString TArgumentReader::Sole(const QString &what, const QString &context) {
  if (AtEnd())
    throw EUsageError(QStringLiteral("%1 needs %2").arg(context, what), context);
  QString value = Next();
  ExpectEnd(context);
  return value;
}

bool TArgumentReader::HelpFollows() const {
  for (qsizetype i = next_; i < arguments_.size(); ++i)
    if (IsHelp(arguments_[i]))
      return true;
  return false;
}

void TArgumentReader::ExpectEnd(const QString &context) {
  if (!AtEnd())
    throw EUsageError(
        QStringLiteral("%1: unexpected argument '%2'")
            .arg(context.isEmpty() ? QStringLiteral("pellicar-cli") : context, Peek()),
        context);
}

} // namespace pellicar
