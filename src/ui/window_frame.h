#pragma once

class QWidget;

namespace ferry {

// Asks the window manager to draw only a title bar and a border on a dialog: no minimise,
// maximise or close button. The dialogs are left only through their own buttons, and a
// dialog minimised while the main window is hidden would leave nothing on screen. Window
// managers that draw their buttons regardless are read from the same hint by most; where
// one still minimises the dialog, the tray icon brings it back.
void OfferNoFrameButtons(QWidget* window);

} // namespace ferry
