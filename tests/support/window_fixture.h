#pragma once

// A fixture for widget tests of the main window with its real channels:
// the window is built on first use, with dialogs that answer, a fake
// serial-port tree and (unless a test gives one) the machine's printer list,
// which a running PrivateCups points at its own server.

#include "app/main_form.h"
#include "app/radio_group.h"
#include "support/recording_dialogs.h"
#include "support/wait.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace pellicar::test {

class WindowFixture : public ::testing::Test {
protected:
  TForm1 &form() {
    if (!form_) {
      FormServices services;
      services.boxes = &boxes;
      services.fileDialogs = &files;
      if (printers)
        services.listPrinters = [this] { return *printers; };
      services.sysfsRoot = sysfs.path();
      services.spooler = spooler;
      services.resolver = resolver;
      services.serialOpener = serialOpener;
      services.askPrinterState = askPrinterState;
      form_ = std::make_unique<TForm1>(services);
    }
    return *form_;
  }

  template <typename T = QWidget> T *get(const char *name) {
    T *widget = form().findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  void click(const char *button) {
    if (auto *b = get<QAbstractButton>(button))
      b->click();
  }
  void type(const char *edit, const QString &text) {
    if (auto *e = get<QLineEdit>(edit))
      e->setText(text);
  }
  void choose(const char *list, int index) {
    if (auto *c = get<QComboBox>(list))
      c->setCurrentIndex(index);
  }
  QString caption(const char *button) {
    auto *b = get<QAbstractButton>(button);
    return b != nullptr ? b->text() : QString();
  }

  // Selects item 0 "Driver：", 1 "COM Port：" or 2 "Ethernet ：" as the user
  // does (a click; the current item again raises nothing).
  void choosePort(int item) {
    if (auto *group = get<TRadioGroup>("rgPort"))
      group->Item(item)->click();
  }

  // "Ethernet ：", the printer's address and port typed, "Connect"; waits
  // for the connection.
  bool connectTcp(quint16 port, const QString &address = QStringLiteral("127.0.0.1")) {
    choosePort(2);
    type("edtETHIP", address);
    type("edtETHPort", QString::number(port));
    click("btnConnect");
    return WaitUntil([this] { return form().TcpConnected; });
  }

  // "COM Port：", the device put into the port list and chosen, "Open".
  bool openSerial(const QString &device) {
    choosePort(1);
    auto *ports = get<QComboBox>("cbbCOM");
    ports->addItem(device);
    ports->setCurrentIndex(ports->count() - 1);
    click("btnOpenCOM");
    return form().SerialOpen;
  }

  QString status() { return form().StatusText(); }

  // Stops the status panel's clock, so that an outcome written from the
  // event loop stays until the test has read it.
  void stopClock() {
    if (auto *clock = get<QTimer>("tmr1"))
      clock->stop();
  }

  RecordingMessageBoxes boxes;
  ScriptedFileDialogs files;
  std::optional<QStringList> printers;
  QTemporaryDir sysfs;
  Spooler *spooler = nullptr;
  std::shared_ptr<HostResolver> resolver;
  TSerialDeviceOpener serialOpener;
  // Off: the tests of what an action sends see its bytes alone, without
  // the status questions that follow it.
  bool askPrinterState = false;
  std::unique_ptr<TForm1> form_;
};

} // namespace pellicar::test
