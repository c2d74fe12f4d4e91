#pragma once

// The look the windows share: fonts, labels, edits, buttons, placing.

#include <QFont>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace ferry {

// The windows' fonts at 8 points as the layouts were measured (11 pixels high at 96 pixels
// per inch). Where the named face is missing, a face of the same widths stands in, so the
// captions still fit the sizes the windows give them.
QFont FormFont(const QString& family);

// Centres a top-level window on the screen it will show on.
void CentreOnScreen(QWidget* window);

// Shows a window, centred the first time it appears, in front and active.
void ShowCentredAndRaised(QWidget* window);

// The controls as the windows are laid out: at a fixed place and size, named for tests and
// screenshots. Buttons never take Enter for themselves.
QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int x, int y, int w,
                        int h = 25);
QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int x, int y,
                  bool bold = false);
// An edit field that keeps text of any length whole (QLineEdit would cut it at 32767
// characters, and a stored value shown and written back would come out shortened).
QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w);

} // namespace ferry
