#include "cli/discover_command.h"

#include "cli/terminal.h"
#include "discovery/address_range.h"
#include "discovery/discovery_report.h"

#include <QEventLoop>
#include <QSaveFile>

namespace pellicar {

CliJob ParseDiscover(TArgumentReader &args) {
  const QString context = QStringLiteral("discover");
  CliJob job;
  job.kind = CliJob::Kind::Discover;
  job.command = context;
  while (!args.AtEnd()) {
    const QString word = args.Next();
    if (word == QLatin1String("--json")) {
      job.json = true;
    } else if (word == QLatin1String("--port")) {
      const QString value = args.ValueOf(word, context);
      bool ok = false;
      const uint port = value.toUInt(&ok);
      if (!ok || port == 0 || port > 65535)
        throw EUsageError(QStringLiteral("--port: '%1' is not a port (1 to 65535)").arg(value),
                          context);
      job.discover.port = quint16(port);
    } else if (word == QLatin1String("--inventory")) {
      job.discover.inventory = args.ValueOf(word, context);
    } else if (word.startsWith(QLatin1Char('-'))) {
      throw EUsageError(QStringLiteral("discover: unknown option '%1'").arg(word), context);
    } else {
      job.discover.ranges << word;
    }
  }
  try {
    (void)ParseAddressRanges(job.discover.ranges); // refused before anything is looked at
  } catch (const ERangeError &e) {
    throw EUsageError(e.message(), context);
  }
  return job;
}

ExitStatus RunDiscover(const CliJob &job) {
  DiscoveryResult result;
  result.local = FindLocalDevices(LocalDeviceOptions{});
  if (!job.discover.ranges.isEmpty()) {
    DiscoveryResult::Network network;
    network.ranges = job.discover.ranges;
    network.port = job.discover.port;
    TNetworkScan scan(ParseAddressRanges(job.discover.ranges), job.discover.port);
    network.limits = scan.Limits();
    // The scan bounds itself (ScanLimits::wholeMs): the loop ends with it.
    QEventLoop loop;
    QObject::connect(&scan, &TNetworkScan::Finished, &loop, [&](const ScanSummary &summary) {
      network.summary = summary;
      loop.quit();
    });
    scan.Start();
    loop.exec();
    network.findings = scan.Findings();
    result.network = network;
  }
  const QByteArray text = job.json ? DiscoveryJson(result) : DiscoveryTable(result).toUtf8();
  if (!WriteStandard(StandardStream::Output, text))
    throw ESendFailed(QLatin1String(kStandardOutputFailed));
  if (!job.discover.inventory.isEmpty()) {
    QSaveFile file(job.discover.inventory);
    if (!file.open(QIODevice::WriteOnly) || file.write(InventoryCsv(result)) < 0 || !file.commit())
      throw ESendFailed(QStringLiteral("the inventory could not be written to %1: %2")
                            .arg(job.discover.inventory, file.errorString()));
  }
  if (result.network && result.network->summary.limitReached)
    throw ESendFailed(QStringLiteral("the scan's limit of %1 s ran out before every address was "
                                     "scanned (%2 of %3)")
                          .arg(result.network->limits.wholeMs / 1000)
                          .arg(result.network->summary.finished)
                          .arg(result.network->summary.total));
  return ExitStatus::Sent;
}

} // namespace pellicar
