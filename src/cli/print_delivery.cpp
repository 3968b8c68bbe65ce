#include "cli/print_delivery.h"

#include "cli/cli_errors.h"
#include "cli/terminal.h"

#include <algorithm>

namespace pellicar {

namespace {

// Bytes turned into text and written at a time: the text of a 64 MiB
// firmware image is 192 MiB, which is written as it is made rather than
// held whole.
constexpr qsizetype kBytesPerWrite = 32 * 1024;

void Write(const QByteArray &text) {
  if (!WriteStandard(StandardStream::Output, text))
    throw ESendFailed(QLatin1String(kStandardOutputFailed));
}

} // namespace

void TPrintDelivery::Deliver(const CliJob &job) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  QByteArray text;
  text.reserve(3 * kBytesPerWrite + 256);
  for (const CommandSequence &sequence : job.sequences) {
    text.resize(0); // keeps the room reserved
    text += sequence.documentName.toUtf8();
    text += '\t';
    const QByteArray &bytes = sequence.bytes;
    for (qsizetype at = 0; at < bytes.size(); at += kBytesPerWrite) {
      const qsizetype end = std::min(bytes.size(), at + kBytesPerWrite);
      for (qsizetype i = at; i < end; ++i) {
        if (i > 0)
          text += ' ';
        const auto byte = std::uint8_t(bytes[i]);
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
      }
      if (end < bytes.size()) {
        Write(text);
        text.resize(0);
      }
    }
    text += '\n';
    Write(text);
  }
}

} // namespace pellicar
