#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <string>

namespace pellicar::test {

// The value at a path of keys and array indexes, "base.baudRate" or
// "logos.0.png"; undefined where the path leads nowhere.
inline QJsonValue JsonAt(const QJsonObject &object, const QString &path) {
  QJsonValue value = object;
  for (const QString &step : path.split(QLatin1Char('.'))) {
    bool isIndex = false;
    const int index = step.toInt(&isIndex);
    value = isIndex ? value.toArray().at(index) : value.toObject().value(step);
  }
  return value;
}

// A value as compact JSON, for readable comparisons ("null", "\"aes\"").
inline std::string JsonText(const QJsonValue &value) {
  const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
  return array.mid(1, array.size() - 2).toStdString();
}

} // namespace pellicar::test
