#include "cli/command_line.h"

#include "cli/argument_reader.h"
#include "cli/cli_errors.h"
#include "cli/command_parser.h"
#include "cli/read_back_commands.h"
#include "cli/usage_text.h"
#include "commands/integer_field.h"

namespace pellicar {

namespace {

// The computer's side of the serial line, as the window's lists offer it.
const QStringList kSerialBaudRates = {QStringLiteral("1200"),  QStringLiteral("4800"),
                                      QStringLiteral("9600"),  QStringLiteral("19200"),
                                      QStringLiteral("38400"), QStringLiteral("57600"),
                                      QStringLiteral("115200")};

// HOST[:PORT]; the port by the integer-field rule, but only 1 to 65535: a
// port the window would cut to its low 16 bits is refused here.
void ReadTcpTarget(const QString &value, ChannelChoice &channel) {
  QString host = value;
  const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
  if (colon >= 0) {
    host = value.left(colon);
    const QString portText = value.mid(colon + 1);
    const std::optional<std::int32_t> port = ParseIntegerField(portText);
    if (!port)
      throw EUsageError(QStringLiteral("--tcp %1: the port '%2' is not a valid integer value")
                            .arg(value, portText));
    if (*port < 1 || *port > 65535)
      throw EUsageError(QStringLiteral("--tcp: port %1 is not between 1 and 65535").arg(*port));
    channel.port = quint16(*port);
  }
  if (host.isEmpty() || host.contains(QLatin1Char(':')))
    throw EUsageError(
        QStringLiteral("--tcp: '%1' is not HOST[:PORT] (an IPv4 address or a host name)")
            .arg(value));
  channel.target = host;
}

void SetChannel(ChannelChoice &channel, ChannelChoice::Kind kind, const QString &option,
                const QString &target) {
  if (channel.kind != ChannelChoice::Kind::None)
    throw EUsageError(QStringLiteral("%1: only one channel may be given").arg(option));
  if (target.isEmpty())
    throw EUsageError(QStringLiteral("%1 needs a non-empty value").arg(option));
  channel.kind = kind;
  channel.target = target;
}

// Reading the printer's answers needs a channel that carries them back.
void CheckReadBack(const CliRequest &request) {
  const CliJob &job = request.job;
  const bool reads = job.kind == CliJob::Kind::Status || job.kind == CliJob::Kind::WaitReady;
  if (!reads && job.waitReadyMs == 0)
    return;
  const QString what = reads ? QStringLiteral("'%1'").arg(job.command)
                             : QStringLiteral("%1 --wait-ready").arg(job.command);
  switch (request.channel.kind) {
  case ChannelChoice::Kind::Queue:
    throw EUsageError(QStringLiteral("%1 reads the printer's answers, and a print queue cannot "
                                     "carry them back; use --tcp, --serial or --device")
                          .arg(what),
                      job.command);
  case ChannelChoice::Kind::Output:
    throw EUsageError(QStringLiteral("%1 reads the printer's answers, and --output only writes; "
                                     "use --device for a printer's device file")
                          .arg(what),
                      job.command);
  case ChannelChoice::Kind::None:
    // A dry run prints the requests; waiting for them to be answered
    // needs a printer.
    if (!reads)
      throw EUsageError(
          QStringLiteral("%1 needs a printer to wait for: --tcp or --device").arg(what),
          job.command);
    break;
  default:
    break;
  }
}

} // namespace

CliRequest ParseCommandLine(const QStringList &arguments) {
  CliRequest request;
  TArgumentReader args(arguments);
  const QString noCommand;
  QString serialOption; // "--baud" or "--parity" seen
  while (!args.AtEnd() && args.Peek().startsWith(QLatin1Char('-'))) {
    const QString option = args.Next();
    if (TArgumentReader::IsHelp(option)) {
      request.job.help = true;
      request.job.report = ToolUsage();
      return request;
    }
    if (option == QLatin1String("--version")) {
      request.job.help = true;
      request.job.report = ToolVersion();
      return request;
    }
    if (option == QLatin1String("--timeout")) {
      request.timeoutMs = SecondsValue(option, args.ValueOf(option, noCommand), noCommand);
    } else if (option == QLatin1String("--tcp")) {
      const QString value = args.ValueOf(option, noCommand);
      SetChannel(request.channel, ChannelChoice::Kind::Tcp, option, value);
      ReadTcpTarget(value, request.channel);
    } else if (option == QLatin1String("--serial")) {
      SetChannel(request.channel, ChannelChoice::Kind::Serial, option,
                 args.ValueOf(option, noCommand));
    } else if (option == QLatin1String("--queue")) {
      SetChannel(request.channel, ChannelChoice::Kind::Queue, option,
                 args.ValueOf(option, noCommand));
    } else if (option == QLatin1String("--output")) {
      SetChannel(request.channel, ChannelChoice::Kind::Output, option,
                 args.ValueOf(option, noCommand));
    } else if (option == QLatin1String("--device")) {
      SetChannel(request.channel, ChannelChoice::Kind::Device, option,
                 args.ValueOf(option, noCommand));
    } else if (option == QLatin1String("--baud")) {
      const int index =
          ChooseWord(option, args.ValueOf(option, noCommand), kSerialBaudRates, noCommand);
      request.channel.baudRate = kSerialBaudRates[index].toUInt();
      serialOption = option;
    } else if (option == QLatin1String("--parity")) {
      request.channel.parityIndex = ChooseWord(
          option, args.ValueOf(option, noCommand),
          {QStringLiteral("none"), QStringLiteral("odd"), QStringLiteral("even")}, noCommand);
      serialOption = option;
    } else {
      throw EUsageError(QStringLiteral("unknown option '%1'").arg(option));
    }
  }
  if (!serialOption.isEmpty() && request.channel.kind != ChannelChoice::Kind::Serial)
    throw EUsageError(QStringLiteral("%1 before the command goes with --serial; the printer's "
                                     "own setting is 'base %1'")
                          .arg(serialOption));

  // The window refuses the serial port for the long transfers before it
  // looks at their files; so does the tool.
  if (request.channel.kind == ChannelChoice::Kind::Serial && !args.AtEnd() &&
      SendsStream(args.Peek()) && !args.HelpFollows())
    throw EUsageError(QStringLiteral("Can not Use COM Port ! '%1' goes over --tcp, --device, "
                                     "--queue or --output")
                          .arg(args.Peek()),
                      args.Peek());

  request.job = ParseCommand(args, request.timeoutMs);
  if (request.job.help)
    return request;
  const bool hasChannel = request.channel.kind != ChannelChoice::Kind::None;
  if (request.job.kind == CliJob::Kind::Discover && hasChannel)
    throw EUsageError(QStringLiteral("'discover' finds the printers itself; leave the channel out"),
                      request.job.command);
  if (request.job.kind == CliJob::Kind::Report && hasChannel)
    throw EUsageError(QStringLiteral("'%1' sends nothing to a printer; leave the channel out")
                          .arg(request.job.command),
                      request.job.command);
  if (request.job.kind == CliJob::Kind::Fleet && hasChannel)
    throw EUsageError(QStringLiteral("apply --targets: the targets file names each printer's "
                                     "channel; leave the channel out"),
                      request.job.command);
  CheckReadBack(request);
  // The window refuses the serial port for the logo download; a profile's
  // logos are refused before anything of the profile is sent.
  if (request.channel.kind == ChannelChoice::Kind::Serial)
    for (const CliJob::Section &section : request.job.sections)
      if (section.name == QLatin1String("logos"))
        throw EUsageError(QStringLiteral("Can not Use COM Port ! The profile's logos go over "
                                         "--tcp, --device, --queue or --output; leave them out "
                                         "with --only"),
                          request.job.command);
  return request;
}

} // namespace pellicar
