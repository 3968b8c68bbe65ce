// CUPS implementation of the print-server seams.

#include "platform/printer_list.h"

#include <cups/cups.h>

namespace pellicar {

namespace {

// A connection of our own with a bounded wait: the library's default
// connection waits minutes for a server that accepts and never answers.
http_t *connectToServer(int timeoutMs) {
  int cancel = 0;
  http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              timeoutMs, &cancel);
  if (http == nullptr)
    return nullptr;
  // Returning 0 from the callback gives up when the timeout expires.
  httpSetTimeout(
      http, timeoutMs / 1000.0, [](http_t *, void *) { return 0; }, nullptr);
  return http;
}

} // namespace

QStringList ListInstalledPrinters(int timeoutMs) {
  QStringList names;
  http_t *http = connectToServer(timeoutMs);
  if (http == nullptr)
    return names;

  // CUPS-Get-Printers asked directly on our connection: cupsGetDests would
  // also browse the network for printers and fall back to the default
  // connection.
  ipp_t *request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  static const char *const attributes[] = {"printer-name"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 1, nullptr,
                attributes);
  ipp_t *response = cupsDoRequest(http, request, "/");
  if (response != nullptr) {
    for (ipp_attribute_t *attr = ippFindAttribute(response, "printer-name", IPP_TAG_NAME);
         attr != nullptr; attr = ippFindNextAttribute(response, "printer-name", IPP_TAG_NAME)) {
      names.append(QString::fromUtf8(ippGetString(attr, 0, nullptr)));
    }
    ippDelete(response);
  }
  httpClose(http);
  return names;
}

} // namespace pellicar
