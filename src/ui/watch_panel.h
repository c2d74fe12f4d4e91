#pragma once

// The Activity window's corner for watched folders: the check box that switches watching on
// and off (WatchFolders), and a line saying how many folders are watched and which ones are
// passed at the interval only.

class QWidget;

namespace ferry {

class WatchTrigger;

// Puts the check box CHK_Watch and the line LBL_Watch into the free space at the bottom of
// the Activity window, right of its check boxes; they follow `watch` from then on.
void AddWatchPanel(QWidget& activity, WatchTrigger& watch);

} // namespace ferry
