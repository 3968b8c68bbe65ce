#include "cli/counting_buffer.h"

namespace pellicar {

TCountingBuffer::TCountingBuffer(const QByteArray &bytes, Progress progress)
    : bytes_(bytes), progress_(std::move(progress)) {
  setBuffer(&bytes_);
  // Unbuffered, so that every read of the consumer reaches readData and the
  // count is exact.
  open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 TCountingBuffer::readData(char *data, qint64 maxSize) {
  const qint64 read = QBuffer::readData(data, maxSize);
  if (read > 0 && progress_)
    progress_(pos() + read, size());
  return read;
}

} // namespace pellicar
