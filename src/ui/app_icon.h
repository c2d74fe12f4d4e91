#pragma once

#include <QIcon>

namespace ferry {

// The program's icon, one 32 x 32 and one 16 x 16 image, drawn at run time.
QIcon MakeApplicationIcon();

} // namespace ferry
