#pragma once

#include "cli/delivery.h"

#include <QString>

namespace pellicar {

// --output FILE: appends the raw bytes of every sequence, in order, to the
// file (made when missing), or writes them to standard output for "-". A
// device or a pipe is written without seeking.
// The file is written whole or the failure is raised: nothing is left
// half-reported.
class TFileDelivery : public TDelivery {
public:
  explicit TFileDelivery(QString path) : path_(std::move(path)) {}
  void Deliver(const CliJob &job) override;

private:
  QString path_;
};

} // namespace pellicar
