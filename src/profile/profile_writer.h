#pragma once

#include "profile/profile.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace pellicar {

// The profile as its JSON document, in the forms ParseProfile reads: what
// is set is written, what is not is left out. A Wi-Fi key read from keyEnv
// is written as keyEnv, never as the key. Logos are written as they are
// held: embedded bytes as "bmp", files as "file". Pure; any thread.
QJsonObject ProfileToJson(const Profile &profile);

// Whether the written profile holds a Wi-Fi key of its own.
bool ProfileHoldsKey(const Profile &profile);

// Writes the profile to `path` as indented JSON, replacing the file whole
// (a failure leaves the old file as it was). A profile that holds a key is
// written readable and writable by its owner only, before any byte of it
// is written; one without a key gets the usual permissions. Returns the
// reason when it fails, nothing when it worked. Any thread.
std::optional<QString> WriteProfileFile(const QString &path, const Profile &profile);

} // namespace pellicar
