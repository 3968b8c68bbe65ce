#pragma once

#include <QString>
#include <QStringList>

namespace pellicar {

// Reads a command line word by word. Values are taken as they stand, so a
// value may begin with "-" ("blackmark pitch -1", a key "--x").
// `context` names the command for messages and for the usage hint.
class TArgumentReader {
public:
  explicit TArgumentReader(QStringList arguments) : arguments_(std::move(arguments)) {}

  bool AtEnd() const { return next_ >= arguments_.size(); }
  const QString &Peek() const { return arguments_.at(next_); }
  QString Next() { return arguments_.at(next_++); }

  // The value after `option`; EUsageError when there is none.
  QString ValueOf(const QString &option, const QString &context);

  // The one positional argument that `what` describes ("A.B.C.D");
  // EUsageError when it is missing or followed by more.
  QString Sole(const QString &what, const QString &context);

  // EUsageError when anything is left.
  void ExpectEnd(const QString &context);

  // Whether a word still to be read asks for help.
  bool HelpFollows() const;
  // Whether `word` is among the words still to be read.
  bool Follows(const QString &word) const { return arguments_.indexOf(word, next_) >= 0; }

  static bool IsHelp(const QString &word) {
    return word == QLatin1String("--help") || word == QLatin1String("-h");
  }

private:
  QStringList arguments_;
  qsizetype next_ = 0;
};

} // namespace pellicar
