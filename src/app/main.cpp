#include "app/application.h"
#include "app/file_dialogs.h"
#include "app/main_form.h"
#include "app/message_box.h"

int main(int argc, char **argv) {
  pellicar::QtMessageBoxes boxes;
  pellicar::QtFileDialogs fileDialogs;
  pellicar::TApplication app(argc, argv, boxes);

  pellicar::FormServices services;
  services.boxes = &boxes;
  services.fileDialogs = &fileDialogs;
  pellicar::TForm1 form(services);
  form.move(491, 157);
  form.show();
  return app.exec();
}
