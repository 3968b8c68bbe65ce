// libFuzzer target: any bytes through the printer's decoder and state.
// The first byte chooses a piece size; the rest is fed once whole and once
// in pieces of that size. Both must give the same log, answers and state
// (the decoder does not depend on how the bytes arrive), and nothing may
// crash, leak or grow without bound (libFuzzer's -rss_limit_mb).

#include "emulation/command_decoder.h"
#include "emulation/virtual_printer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray Run(QByteArrayView bytes, qsizetype piece) {
  using namespace pellicar;
  VirtualPrinter printer;
  QByteArray trace;
  printer.onLog = [&](const QString &line) { trace += line.toUtf8() + '\n'; };
  printer.onAnswer = [&](const QByteArray &answer) { trace += "answer " + answer.toHex() + '\n'; };
  CommandDecoder decoder(printer);
  for (qsizetype at = 0; at < bytes.size(); at += piece)
    decoder.Feed(bytes.sliced(at, std::min(piece, bytes.size() - at)));
  decoder.EndOfStream();
  return trace + printer.State().ToFileBytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  const qsizetype piece = 1 + data[0] % 13;
  const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
  if (Run(bytes, std::max<qsizetype>(bytes.size(), 1)) != Run(bytes, piece))
    std::abort();
  return 0;
}
