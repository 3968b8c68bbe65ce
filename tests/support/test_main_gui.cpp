// main() of the widget tests: an offscreen application set up as the
// program's own, so that styles, faces and the title are the real ones.

#include "app/application.h"

#include <QApplication>
#include <QDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const QString runtime = QDir::temp().filePath(QStringLiteral("pellicar-test-runtime"));
  QDir().mkpath(runtime);
  QFile::setPermissions(runtime,
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  pellicar::SetUpApplication(app);
  return RUN_ALL_TESTS();
}
