#include "cli/command_parser.h"

#include "cli/cli_errors.h"
#include "cli/discover_command.h"
#include "cli/fleet_command.h"
#include "cli/profile_commands.h"
#include "cli/read_back_commands.h"
#include "cli/usage_text.h"
#include "commands/base_commands.h"
#include "commands/blackmark_commands.h"
#include "commands/code_page_table.h"
#include "commands/ethernet_commands.h"
#include "commands/wifi_commands.h"
#include "firmware/firmware_check.h"
#include "firmware/firmware_image.h"
#include "logo/logo_raster.h"
#include "logo/logo_set.h"
#include "platform/printer_list.h"
#include "platform/serial_port_list.h"

#include <QFileInfo>

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>

namespace pellicar {

namespace {

QStringList Words(std::initializer_list<const char *> words) {
  QStringList list;
  for (const char *word : words)
    list << QString::fromLatin1(word);
  return list;
}

template <std::size_t N> QStringList Words(const std::array<const char *, N> &items) {
  QStringList list;
  for (const char *item : items)
    list << QString::fromUtf8(item);
  return list;
}

bool OnOff(const QString &option, const QString &value, const QString &context) {
  return ChooseWord(option, value, Words({"off", "on"}), context) == 1;
}

CliJob Help(const QString &command) {
  CliJob job;
  job.kind = CliJob::Kind::Report;
  job.command = command;
  job.help = true;
  job.report = CommandUsage(command);
  return job;
}

CliJob Commands(const QString &command, std::vector<CommandSequence> sequences) {
  CliJob job;
  job.kind = CliJob::Kind::Commands;
  job.command = command;
  job.sequences = std::move(sequences);
  return job;
}

// A row number (decimal digits only) or a name of the code-page table.
int CodePageRow(const QString &value, const QString &context) {
  bool isNumber = !value.isEmpty();
  for (QChar c : value)
    isNumber = isNumber && c >= QLatin1Char('0') && c <= QLatin1Char('9');
  if (isNumber) {
    bool ok = false;
    const int row = value.toInt(&ok);
    if (!ok || row >= kCodePageCount)
      throw EUsageError(QStringLiteral("--codepage: there is no row %1 (rows 0 to %2); see "
                                       "'pellicar-cli list codepages'")
                            .arg(value)
                            .arg(kCodePageCount - 1),
                        context);
    return row;
  }
  for (int row = 0; row < kCodePageCount; ++row)
    if (kCodePages[row].displayName().compare(value, Qt::CaseInsensitive) == 0)
      return row;
  throw EUsageError(QStringLiteral("--codepage: no code page is named '%1'; see 'pellicar-cli "
                                   "list codepages'")
                        .arg(value),
                    context);
}

CliJob ParseBase(TArgumentReader &args) {
  const QString context = QStringLiteral("base");
  BaseSettings settings;
  // Each option sets one control; a repeated option counts with its last value.
  const std::map<QString, std::function<void(const QString &, const QString &)>> options = {
      {QStringLiteral("--baud"),
       [&](const QString &o, const QString &v) {
         settings.baudRateIndex = ChooseWord(o, v, Words(kPrinterBaudRateItems), context);
       }},
      {QStringLiteral("--parity"),
       [&](const QString &o, const QString &v) {
         settings.parityIndex = ChooseWord(o, v, Words({"none", "odd", "even"}), context);
       }},
      {QStringLiteral("--font"),
       [&](const QString &o, const QString &v) {
         settings.fontIndex = ChooseWord(o, v, Words({"a", "b", "c"}), context);
       }},
      {QStringLiteral("--density"),
       [&](const QString &o, const QString &v) {
         settings.densityIndex = ChooseWord(o, v, Words({"normal", "dark"}), context);
       }},
      {QStringLiteral("--chars"),
       [&](const QString &o, const QString &v) {
         settings.charsPerLineIndex = ChooseWord(o, v, Words(kCharsPerLineItems), context);
       }},
      {QStringLiteral("--codepage"),
       [&](const QString &, const QString &v) {
         settings.codePageIndex = CodePageRow(v, context);
       }},
      {QStringLiteral("--buzzer"),
       [&](const QString &o, const QString &v) { settings.buzzer = OnOff(o, v, context); }},
      {QStringLiteral("--drawer"),
       [&](const QString &o, const QString &v) { settings.drawer = OnOff(o, v, context); }},
      {QStringLiteral("--cutter"),
       [&](const QString &o, const QString &v) { settings.cutter = OnOff(o, v, context); }},
      {QStringLiteral("--reprint"),
       [&](const QString &o, const QString &v) { settings.reprint = OnOff(o, v, context); }},
      {QStringLiteral("--buzz-after-print"),
       [&](const QString &o, const QString &v) {
         settings.buzzAfterPrinting = OnOff(o, v, context);
       }},
  };
  while (!args.AtEnd()) {
    const QString option = args.Next();
    const auto found = options.find(option);
    if (found == options.end())
      throw EUsageError(QStringLiteral("base: unknown option '%1'").arg(option), context);
    found->second(option, args.ValueOf(option, context));
  }
  const std::vector<CommandSequence> sequences = BuildBaseSettings(settings);
  return Commands(context, sequences);
}

// "A.B.C.D" split into its `count` fields, each left as it stands for the
// integer-field rule.
QStringList DottedFields(const QString &value, int count, const QString &shape,
                         const QString &context) {
  const QStringList fields = value.split(QLatin1Char('.'));
  if (fields.size() != count)
    throw EUsageError(QStringLiteral("%1: '%2' is not of the form %3 (%4 fields separated by dots)")
                          .arg(context, value, shape)
                          .arg(count),
                      context);
  return fields;
}

CliJob ParseIp(TArgumentReader &args) {
  const QString context = QStringLiteral("ip");
  const QString value = args.Sole(QStringLiteral("an address A.B.C.D"), context);
  const QStringList fields = DottedFields(value, 4, QStringLiteral("A.B.C.D"), context);
  IpAddressFields ip;
  for (int i = 0; i < 4; ++i)
    ip.texts[i] = fields[i];
  return Commands(context, {BuildSetIp(ip)});
}

CliJob ParseMac(TArgumentReader &args) {
  const QString context = QStringLiteral("mac");
  const QString value = args.Sole(QStringLiteral("an address M1.M2.M3.M4.M5"), context);
  const QStringList fields = DottedFields(value, 5, QStringLiteral("M1.M2.M3.M4.M5"), context);
  MacAddressFields mac;
  for (int i = 0; i < 5; ++i)
    mac.texts[i] = fields[i];
  return Commands(context, {BuildSetMac(mac)});
}

CliJob ParseSpeed(TArgumentReader &args) {
  const QString context = QStringLiteral("speed");
  const QString value = args.Sole(QStringLiteral("a speed"), context);
  // In the order of the window's speed list.
  const int index =
      ChooseWord(QStringLiteral("speed"), value,
                 Words({"auto", "100-full", "100-half", "10-full", "10-half"}), context);
  return Commands(context, {BuildSetSpeed(index)});
}

CliJob ParseWifi(TArgumentReader &args) {
  const QString context = QStringLiteral("wifi");
  WifiSettings settings;
  bool haveSsid = false;
  QString security; // the security option given, empty: none yet
  QString cipherOption;
  while (!args.AtEnd()) {
    const QString option = args.Next();
    if (option == QLatin1String("--ssid")) {
      settings.ssid = args.ValueOf(option, context);
      haveSsid = true;
      continue;
    }
    if (option == QLatin1String("--cipher")) {
      settings.cipherIndex =
          ChooseWord(option, args.ValueOf(option, context), Words({"tkip", "aes"}), context);
      cipherOption = option;
      continue;
    }
    const QStringList securities =
        Words({"--open", "--wpa", "--wpa2", "--wep-open", "--wep-share"});
    const qsizetype kind = securities.indexOf(option);
    if (kind < 0)
      throw EUsageError(QStringLiteral("wifi: unknown option '%1'").arg(option), context);
    if (!security.isEmpty() && security != option)
      throw EUsageError(QStringLiteral("wifi: %1 and %2 cannot both be given; choose one security")
                            .arg(security, option),
                        context);
    security = option;
    switch (kind) {
    case 0:
      settings.security = WifiSecurity::Open;
      break;
    case 1:
    case 2:
      settings.security = WifiSecurity::Wpa;
      settings.wpaTypeIndex = int(kind) - 1;
      settings.wpaKey = args.ValueOf(option, context);
      break;
    default:
      settings.security = WifiSecurity::Wep;
      settings.wepTypeIndex = int(kind) - 3;
      settings.wepKey = args.ValueOf(option, context);
      break;
    }
  }
  if (!haveSsid)
    throw EUsageError(QStringLiteral("wifi needs --ssid SSID"), context);
  // The printer reads the cipher only for WPA; taking the option silently
  // otherwise would hide a mistake.
  if (!cipherOption.isEmpty() && settings.security != WifiSecurity::Wpa)
    throw EUsageError(QStringLiteral("wifi: --cipher goes with --wpa or --wpa2"), context);
  return Commands(context, {BuildSetWifi(settings)});
}

CliJob ParseBlackMark(TArgumentReader &args) {
  const QString context = QStringLiteral("blackmark");
  if (args.AtEnd())
    throw EUsageError(QStringLiteral("blackmark needs an action"), context);
  const QString action = args.Next();
  const QStringList fixed = Words({"enable", "disable", "next-mark", "next-cut"});
  const QStringList distances = Words({"pitch", "width", "print-offset", "cut-offset"});
  if (const qsizetype i = fixed.indexOf(action.toLower()); i >= 0) {
    args.ExpectEnd(context);
    const std::function<CommandSequence()> builders[] = {
        BuildEnableBlackMark, BuildDisableBlackMark, BuildNextBlackMark, BuildNextCut};
    return Commands(context, {builders[i]()});
  }
  if (const qsizetype i = distances.indexOf(action.toLower()); i >= 0) {
    const QString millimetres = args.Sole(QStringLiteral("%1 MM").arg(action), context);
    const BlackMarkDistance fields[] = {BlackMarkDistance::Pitch, BlackMarkDistance::Width,
                                        BlackMarkDistance::PrintAfter, BlackMarkDistance::CutAfter};
    return Commands(context, {BuildBlackMarkDistance(fields[i], millimetres)});
  }
  throw EUsageError(QStringLiteral("blackmark: unknown action '%1'").arg(action), context);
}

// What a path that exists but is no regular file names, for messages.
QString KindOfNonFile(const QString &path) {
  std::error_code error;
  switch (std::filesystem::status(path.toStdString(), error).type()) {
  case std::filesystem::file_type::directory:
    return QStringLiteral("a directory");
  case std::filesystem::file_type::character:
    return QStringLiteral("a character device");
  case std::filesystem::file_type::block:
    return QStringLiteral("a block device");
  case std::filesystem::file_type::fifo:
    return QStringLiteral("a FIFO");
  case std::filesystem::file_type::socket:
    return QStringLiteral("a socket");
  default:
    return {};
  }
}

// The firmware check, with the window's texts: "Need Firmware" for a file
// that is not there (or is no regular file), "Invalid Firmware" for every
// other refusal.
FirmwareFileCheck CheckedFirmware(const QString &path) {
  FirmwareFileCheck check = CheckFirmwareFile(path);
  if (check.verdict == FirmwareVerdict::NoFile) {
    const QFileInfo file(path);
    QString reason = DescribeFirmwareVerdict(check.verdict);
    if (file.exists() && !file.isFile()) {
      const QString kind = KindOfNonFile(path);
      reason = kind.isEmpty() ? QStringLiteral("not a regular file")
                              : QStringLiteral("not a regular file but %1").arg(kind);
    }
    throw EBadInput(
        QStringLiteral("%1: %2 (%3)").arg(path, QLatin1String(kNeedFirmwareText), reason));
  }
  if (check.verdict != FirmwareVerdict::Valid)
    throw EBadInput(QStringLiteral("%1: %2 (%3)")
                        .arg(path, QLatin1String(kInvalidFirmwareText),
                             DescribeFirmwareVerdict(check.verdict)));
  return check;
}

// FILE [--wait-ready [SECONDS]], in either order.
CliJob ParseFirmware(TArgumentReader &args) {
  const QString context = QStringLiteral("firmware");
  QString path;
  CliJob job;
  while (!args.AtEnd()) {
    const QString word = args.Next();
    if (word == QLatin1String("--wait-ready")) {
      job.waitReadyMs = kDefaultWaitReadyMs;
      if (!args.AtEnd() && IsSeconds(args.Peek()))
        job.waitReadyMs = SecondsValue(word, args.Next(), context);
    } else if (path.isEmpty()) {
      path = word;
    } else {
      throw EUsageError(QStringLiteral("firmware: unexpected argument '%1'").arg(word), context);
    }
  }
  if (path.isEmpty())
    throw EUsageError(QStringLiteral("firmware needs a firmware file"), context);
  job.kind = CliJob::Kind::Stream;
  job.command = context;
  job.sequences = {CommandSequence{QStringLiteral("update"), CheckedFirmware(path).image}};
  return job;
}

// The window's refusal of a logo, with the file and the one reason that
// applies: "Error!" stands for a missing file as well as for one that does
// not fit.
QString LogoRefusal(const LogoFailure &failure, const QString &path) {
  return QStringLiteral("%1: %2 (%3)").arg(path, failure.text, failure.reason);
}

CliJob ParseLogo(TArgumentReader &args) {
  const QString context = QStringLiteral("logo");
  QStringList files;
  while (!args.AtEnd())
    files << args.Next();
  if (files.isEmpty())
    throw EUsageError(QStringLiteral("logo needs at least one FILE.bmp"), context);
  // The count travels in one byte.
  if (files.size() > LogoSet::kMaxLogos)
    throw EUsageError(QStringLiteral("logo: at most %1 logos can be stored at once, not %2")
                          .arg(LogoSet::kMaxLogos)
                          .arg(files.size()),
                      context);
  QByteArray data;
  if (const std::optional<LogoFailure> failure = BuildLogoData(files, data))
    throw EBadInput(LogoRefusal(*failure, files.value(failure->entry)));
  // FS q n, then the records BuildLogoData laid out behind the 3 bytes.
  data[0] = char(0x1C);
  data[1] = char(0x71);
  data[2] = char(files.size());
  CliJob job;
  job.kind = CliJob::Kind::Stream;
  job.command = context;
  job.sequences = {CommandSequence{QStringLiteral("LOGO TO NVRAM"), data}};
  return job;
}

CliJob ParseCheckFirmware(TArgumentReader &args) {
  const QString context = QStringLiteral("check-firmware");
  const QString path = args.Sole(QStringLiteral("a firmware file"), context);
  const FirmwareFileCheck check = CheckedFirmware(path);
  CliJob job;
  job.command = context;
  job.report = QStringLiteral("%1: valid firmware of %2 bytes\n")
                   .arg(path)
                   .arg(check.image.size() - kFirmwarePrefixBytes);
  return job;
}

CliJob ParseList(TArgumentReader &args, int timeoutMs) {
  const QString context = QStringLiteral("list");
  const QString what = args.Sole(QStringLiteral("printers, ports or codepages"), context);
  CliJob job;
  job.command = context;
  switch (ChooseWord(QStringLiteral("list"), what, Words({"printers", "ports", "codepages"}),
                     context)) {
  case 0: {
    // An empty list would look like a server without queues.
    const std::optional<QStringList> printers = QueryInstalledPrinters(timeoutMs);
    if (!printers)
      throw ESendFailed(QStringLiteral("list printers: no print server answered"));
    for (const QString &printer : *printers)
      job.report += printer + QLatin1Char('\n');
    break;
  }
  case 1: {
    QStringList ports;
    ListSerialPorts(ports);
    for (const QString &port : ports)
      job.report += port + QLatin1Char('\n');
    break;
  }
  default:
    for (int row = 0; row < kCodePageCount; ++row)
      job.report += QStringLiteral("%1\t%2\t%3\n")
                        .arg(row)
                        .arg(kCodePages[row].displayName())
                        .arg(kCodePages[row].number);
    break;
  }
  return job;
}

} // namespace

bool SendsStream(const QString &command) {
  return command == QLatin1String("logo") || command == QLatin1String("firmware");
}

int ChooseWord(const QString &option, const QString &value, const QStringList &words,
               const QString &context) {
  for (qsizetype i = 0; i < words.size(); ++i)
    if (words[i].compare(value, Qt::CaseInsensitive) == 0)
      return int(i);
  throw EUsageError(QStringLiteral("%1: '%2' is not one of %3")
                        .arg(option, value, words.join(QStringLiteral(", "))),
                    context);
}

CliJob ParseCommand(TArgumentReader &args, int timeoutMs) {
  if (args.AtEnd())
    throw EUsageError(QStringLiteral("no command given"));
  const QString command = args.Next();
  // "--help" anywhere after a command, also where a value is due, shows
  // the command's help and nothing else.
  if (!CommandUsage(command).isEmpty() && args.HelpFollows())
    return Help(command);
  if (command == QLatin1String("base"))
    return ParseBase(args);
  if (command == QLatin1String("selftest")) {
    args.ExpectEnd(command);
    return Commands(command, {BuildSelfTest()});
  }
  if (command == QLatin1String("ip"))
    return ParseIp(args);
  if (command == QLatin1String("mac"))
    return ParseMac(args);
  if (command == QLatin1String("speed"))
    return ParseSpeed(args);
  if (command == QLatin1String("wifi"))
    return ParseWifi(args);
  if (command == QLatin1String("blackmark"))
    return ParseBlackMark(args);
  if (command == QLatin1String("logo"))
    return ParseLogo(args);
  if (command == QLatin1String("firmware"))
    return ParseFirmware(args);
  if (command == QLatin1String("check-firmware"))
    return ParseCheckFirmware(args);
  if (command == QLatin1String("list"))
    return ParseList(args, timeoutMs);
  if (command == QLatin1String("status"))
    return ParseStatus(args);
  if (command == QLatin1String("wait-ready"))
    return ParseWaitReady(args);
  if (command == QLatin1String("apply") && args.Follows(QStringLiteral("--targets")))
    return ParseFleetApply(args, timeoutMs);
  if (command == QLatin1String("discover"))
    return ParseDiscover(args);
  if (command == QLatin1String("apply"))
    return ParseApply(args);
  if (command == QLatin1String("profile"))
    return ParseProfileCommand(args);
  throw EUsageError(QStringLiteral("unknown command '%1'").arg(command));
}

} // namespace pellicar
