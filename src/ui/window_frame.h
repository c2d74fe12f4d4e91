#pragma once

// The dialogs' window frames: title bar only, no minimising.

class QWidget;

namespace ferry {

// Asks the window manager to draw only a title bar and a border on a dialog: no minimise,
// maximise or close button. The dialogs are left only through their own buttons, and a
// dialog minimised while the main window is hidden would leave nothing on screen. Window
// managers that draw their buttons regardless are read from the same hint by most; where
// one still minimises the dialog, the tray icon brings it back.
void OfferNoFrameButtons(QWidget* window);

// Some window managers (openbox among them) read only whether to draw a title bar at all
// and minimise any window on request. A dialog watched by this comes straight back when it
// is minimised while shown: nothing of the program would be left on screen otherwise.
void KeepFromMinimising(QWidget* window);

} // namespace ferry
