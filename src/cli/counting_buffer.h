#pragma once

#include <QBuffer>
#include <QByteArray>

#include <functional>

namespace pellicar {

// A read-only buffer over a copy of `bytes`, open and at its start, that
// tells after each read how far it has been read. It shows the progress of
// a consumer that reads at its own pace (the spooler channel's stream send).
class TCountingBuffer : public QBuffer {
  Q_OBJECT
public:
  using Progress = std::function<void(qint64 read, qint64 total)>;

  TCountingBuffer(const QByteArray &bytes, Progress progress);

protected:
  qint64 readData(char *data, qint64 maxSize) override;

private:
  QByteArray bytes_;
  Progress progress_;
};

} // namespace pellicar
