#pragma once

#include <QString>

class QWidget;

namespace pellicar {

// The manual as the "Help" button shows it: the user's part of the README
// (everything before "For developers"), built into the program, so that it
// is there wherever the program runs.
QString ManualText();

// Shows the manual in a window of its own beside `owner` (one at a time;
// a second click brings it to the front). Main thread.
void ShowManual(QWidget *owner);

} // namespace pellicar
