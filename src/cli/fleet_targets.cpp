#include "cli/fleet_targets.h"

#include "cli/cli_errors.h"

#include <QFile>
#include <QStringDecoder>

#include <map>

namespace pellicar {

namespace {

struct CsvField {
  QString text;
  bool quoted = false;
};

struct CsvRecord {
  int line = 0;
  std::vector<CsvField> fields;
};

[[noreturn]] void Refuse(const QString &file, int line, const QString &reason) {
  throw EBadInput(QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(reason));
}

// RFC 4180, with LF as well as CRLF between records. A quote inside an
// unquoted field, or text after a closing quote, is refused: a
// spreadsheet never writes it, and guessing would change a key or an SSID.
std::vector<CsvRecord> ParseCsv(const QString &text, const QString &file) {
  std::vector<CsvRecord> records;
  CsvRecord record{1, {}};
  CsvField field;
  int line = 1;
  bool inQuotes = false;
  bool afterQuote = false; // the field's closing quote was read
  const auto endField = [&] {
    if (!field.quoted)
      field.text = field.text.trimmed();
    record.fields.push_back(std::move(field));
    field = {};
    afterQuote = false;
  };
  const auto endRecord = [&] {
    endField();
    const bool blank =
        record.fields.size() == 1 && record.fields[0].text.isEmpty() && !record.fields[0].quoted;
    if (!blank)
      records.push_back(std::move(record));
    record = {line + 1, {}};
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (inQuotes) {
      if (c == QLatin1Char('"')) {
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
          field.text += c;
          ++i;
        } else {
          inQuotes = false;
          afterQuote = true;
        }
      } else {
        if (c == QLatin1Char('\n'))
          ++line;
        field.text += c;
      }
      continue;
    }
    if (c == QLatin1Char(',')) {
      endField();
    } else if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && i + 1 < text.size() &&
                                          text[i + 1] == QLatin1Char('\n'))) {
      if (c == QLatin1Char('\r'))
        ++i;
      endRecord();
      ++line;
    } else if (c == QLatin1Char('"')) {
      if (afterQuote || !field.text.trimmed().isEmpty())
        Refuse(file, line, QStringLiteral("a double quote inside a field that is not quoted"));
      field.text.clear();
      field.quoted = true;
      inQuotes = true;
    } else if (afterQuote) {
      if (!c.isSpace())
        Refuse(file, line, QStringLiteral("text after a field's closing double quote"));
    } else {
      field.text += c;
    }
  }
  if (inQuotes)
    Refuse(file, record.line, QStringLiteral("a double quote that is never closed"));
  if (!field.text.isEmpty() || field.quoted || !record.fields.empty())
    endRecord();
  return records;
}

QString Key(const ChannelChoice &channel) {
  switch (channel.kind) {
  case ChannelChoice::Kind::Tcp:
    return QStringLiteral("tcp:%1:%2").arg(channel.target.toLower()).arg(channel.port);
  case ChannelChoice::Kind::Serial:
  case ChannelChoice::Kind::Device:
    // One file, whichever way it is named.
    return QStringLiteral("file:") + channel.target;
  default:
    return QStringLiteral("queue:") + channel.target;
  }
}

} // namespace

bool LooksLikeProfilePath(const QString &name) {
  const qsizetype dot = name.indexOf(QLatin1Char('.'));
  if (dot <= 0)
    return false;
  const QString section = name.left(dot);
  return section == QLatin1String("base") || section == QLatin1String("ethernet") ||
         section == QLatin1String("wifi") || section == QLatin1String("blackMark");
}

ChannelChoice ParseFleetTarget(const QString &text) {
  const QString forms = QStringLiteral("tcp:HOST[:PORT], serial:PATH, device:PATH or queue:NAME");
  const qsizetype colon = text.indexOf(QLatin1Char(':'));
  if (colon <= 0)
    throw EBadInput(QStringLiteral("'%1' is not one of %2").arg(text, forms));
  const QString scheme = text.left(colon).toLower();
  const QString rest = text.mid(colon + 1);
  ChannelChoice channel;
  channel.target = rest;
  if (scheme == QLatin1String("tcp")) {
    channel.kind = ChannelChoice::Kind::Tcp;
    const qsizetype portColon = rest.lastIndexOf(QLatin1Char(':'));
    if (portColon >= 0) {
      const QString portText = rest.mid(portColon + 1);
      bool ok = !portText.isEmpty();
      for (QChar c : portText)
        ok = ok && c.isDigit() && c.unicode() < 128;
      const uint port = ok ? portText.toUInt(&ok) : 0;
      if (!ok || port < 1 || port > 65535)
        throw EBadInput(
            QStringLiteral("'%1': the port '%2' is not from 1 to 65535").arg(text, portText));
      channel.port = quint16(port);
      channel.target = rest.left(portColon);
    }
    if (channel.target.isEmpty() || channel.target.contains(QLatin1Char(':')))
      throw EBadInput(
          QStringLiteral("'%1' is not tcp:HOST[:PORT] (an IPv4 address or a host name)").arg(text));
    return channel;
  }
  if (scheme == QLatin1String("serial"))
    channel.kind = ChannelChoice::Kind::Serial;
  else if (scheme == QLatin1String("device"))
    channel.kind = ChannelChoice::Kind::Device;
  else if (scheme == QLatin1String("queue"))
    channel.kind = ChannelChoice::Kind::Queue;
  else
    throw EBadInput(QStringLiteral("'%1' is not one of %2").arg(text, forms));
  if (rest.isEmpty())
    throw EBadInput(QStringLiteral("'%1' names no %2")
                        .arg(text, scheme == QLatin1String("queue") ? QStringLiteral("queue")
                                                                    : QStringLiteral("path")));
  return channel;
}

FleetTargets ReadFleetTargets(const QString &path,
                              const std::function<bool(const QString &)> &isOverridePath) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw EBadInput(QStringLiteral("%1: cannot be read: %2").arg(path, file.errorString()));
  const QByteArray bytes = file.read(kMaxTargetsFileBytes + 1);
  if (bytes.size() > kMaxTargetsFileBytes)
    throw EBadInput(QStringLiteral("%1: larger than %2 MiB; a targets file names at most %3 "
                                   "printers")
                        .arg(path)
                        .arg(kMaxTargetsFileBytes / (1024 * 1024))
                        .arg(kMaxFleetTargets));
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (utf8.hasError())
    throw EBadInput(QStringLiteral("%1: not UTF-8 text").arg(path));
  if (text.startsWith(QChar(0xFEFF)))
    text.remove(0, 1);

  const std::vector<CsvRecord> records = ParseCsv(text, path);
  if (records.empty())
    throw EBadInput(QStringLiteral("%1: empty; it needs a header row with a 'target' column and "
                                   "one row per printer")
                        .arg(path));
  const CsvRecord &header = records.front();
  FleetTargets result;
  int targetColumn = -1;
  std::vector<int> overrideColumns; // indexes into the header
  std::map<QString, int> seenNames;
  for (int i = 0; i < int(header.fields.size()); ++i) {
    const QString name = header.fields[size_t(i)].text;
    if (name.isEmpty())
      continue;
    if (const auto seen = seenNames.find(name); seen != seenNames.end())
      Refuse(path, header.line,
             QStringLiteral("the column '%1' is named twice (columns %2 and %3)")
                 .arg(name)
                 .arg(seen->second + 1)
                 .arg(i + 1));
    seenNames[name] = i;
    if (name.compare(QLatin1String("target"), Qt::CaseInsensitive) == 0) {
      targetColumn = i;
    } else if (LooksLikeProfilePath(name)) {
      if (!isOverridePath(name))
        Refuse(path, header.line,
               QStringLiteral("the column '%1' is no profile setting a printer can be given "
                              "(see docs/profile.md)")
                   .arg(name));
      overrideColumns.push_back(i);
      result.overrideColumns << name;
    } else {
      result.ignoredColumns << name;
    }
  }
  if (targetColumn < 0)
    Refuse(path, header.line, QStringLiteral("the header row has no 'target' column"));
  if (int(records.size()) - 1 > kMaxFleetTargets)
    throw EBadInput(QStringLiteral("%1: %2 printers; at most %3 can be set up at once")
                        .arg(path)
                        .arg(records.size() - 1)
                        .arg(kMaxFleetTargets));
  if (records.size() == 1)
    throw EBadInput(QStringLiteral("%1: no printer (only a header row)").arg(path));

  std::map<QString, int> seenTargets; // Key() -> line
  for (size_t r = 1; r < records.size(); ++r) {
    const CsvRecord &record = records[r];
    if (record.fields.size() != header.fields.size())
      Refuse(path, record.line,
             QStringLiteral("%1 fields, but the header row has %2")
                 .arg(record.fields.size())
                 .arg(header.fields.size()));
    FleetTarget target;
    target.line = record.line;
    target.text = record.fields[size_t(targetColumn)].text;
    if (target.text.isEmpty())
      Refuse(path, record.line, QStringLiteral("no target"));
    try {
      target.channel = ParseFleetTarget(target.text);
    } catch (const EBadInput &e) {
      Refuse(path, record.line, e.message());
    }
    const QString key = Key(target.channel);
    if (const auto seen = seenTargets.find(key); seen != seenTargets.end())
      Refuse(path, record.line,
             QStringLiteral("%1 is named on line %2 already").arg(target.text).arg(seen->second));
    seenTargets[key] = record.line;
    for (int column : overrideColumns) {
      const CsvField &cell = record.fields[size_t(column)];
      if (!cell.text.isEmpty())
        target.overrides.emplace_back(header.fields[size_t(column)].text, cell.text);
    }
    result.targets.push_back(std::move(target));
  }
  return result;
}

} // namespace pellicar
