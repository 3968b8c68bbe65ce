#pragma once

#include "channels/printer_link.h"
#include "platform/stream_link.h"

namespace pellicar {

// A printer link over a TCP connection or a character device: the stream
// link seam, with its outcomes turned into this program's messages.
class TStreamPrinterLink : public TPrinterLink {
public:
  // `closedText` is what a close by the other side is called ("the printer
  // closed the connection").
  TStreamPrinterLink(std::unique_ptr<StreamLink> link, QString closedText)
      : link_(std::move(link)), closedText_(std::move(closedText)) {}

  void Send(const QByteArray &bytes, const QDeadlineTimer &deadline) override;
  bool Receive(QByteArray &into, const QDeadlineTimer &deadline) override;
  void Drain(const QDeadlineTimer &deadline) override;
  void DiscardInput() override { link_->DiscardInput(); }

private:
  [[noreturn]] void Fail(LinkStatus status, int error, const QString &doing) const;

  std::unique_ptr<StreamLink> link_;
  QString closedText_;
};

} // namespace pellicar
