#include "emulation/printer_state.h"

#include <QJsonDocument>

#include <initializer_list>

namespace pellicar {

namespace {

// Every key of a section that is set; those no command has set are null.
// The `optional` keys appear only when set: the exact bytes of a text
// that UTF-8 text cannot hold.
QJsonValue Section(const QJsonObject &values, std::initializer_list<const char *> keys,
                   std::initializer_list<const char *> optional = {}) {
  if (values.isEmpty())
    return QJsonValue::Null;
  QJsonObject section;
  for (const char *key : keys) {
    const QString name = QString::fromLatin1(key);
    section.insert(name, values.value(name).isUndefined() ? QJsonValue::Null : values.value(name));
  }
  for (const char *key : optional) {
    const QString name = QString::fromLatin1(key);
    if (!values.value(name).isUndefined())
      section.insert(name, values.value(name));
  }
  return section;
}

} // namespace

QJsonObject PrinterState::ToJson() const {
  QJsonObject json;
  json.insert(
      QStringLiteral("base"),
      Section(base, {"baudRate", "parity", "cutter", "buzzer", "drawer", "charsPerLine", "density",
                     "codePage", "codePageName", "font", "reprint", "buzzAfterPrinting"}));
  json.insert(QStringLiteral("ethernet"), Section(ethernet, {"ip", "mac", "speed"}));
  json.insert(QStringLiteral("wifi"),
              Section(wifi, {"ssid", "security", "cipher", "key"}, {"ssidHex", "keyHex"}));
  json.insert(QStringLiteral("blackMark"),
              Section(blackMark,
                      {"enabled", "pitchDots", "widthDots", "printOffsetDots", "cutOffsetDots"}));
  json.insert(QStringLiteral("logos"), logos ? QJsonValue(*logos) : QJsonValue(QJsonValue::Null));
  json.insert(QStringLiteral("firmware"), Section(firmware, {"bytes", "check"}));
  json.insert(QStringLiteral("counters"),
              QJsonObject{{QStringLiteral("bytesReceived"), counters.bytesReceived},
                          {QStringLiteral("selfTests"), counters.selfTests},
                          {QStringLiteral("cuts"), counters.cuts},
                          {QStringLiteral("formFeeds"), counters.formFeeds},
                          {QStringLiteral("unknownBytes"), counters.unknownBytes},
                          {QStringLiteral("statusRequests"), counters.statusRequests}});
  return json;
}

QByteArray PrinterState::ToFileBytes() const {
  return QJsonDocument(ToJson()).toJson(QJsonDocument::Indented);
}

} // namespace pellicar
