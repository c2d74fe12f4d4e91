#pragma once

#include <QFont>
#include <QString>

class QWidget;

namespace ferry {

// The windows' fonts at 8 points as the layouts were measured (11 pixels high at 96 pixels
// per inch). Where the named face is missing, a face of the same widths stands in, so the
// captions still fit the sizes the windows give them.
QFont FormFont(const QString& family);

// Centres a top-level window on the screen it will show on.
void CentreOnScreen(QWidget* window);

} // namespace ferry
