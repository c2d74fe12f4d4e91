#pragma once

// The program's icon, drawn at run time.

#include <QIcon>
#include <QPixmap>

namespace ferry {

// The program's icon, one 32 x 32 and one 16 x 16 image, drawn at run time.
QIcon MakeApplicationIcon();

// The icon drawn at any size in pixels; it is drawn from shapes, so every size is sharp
// (the installed theme icons are made with it).
QPixmap DrawApplicationIcon(int size);

} // namespace ferry
