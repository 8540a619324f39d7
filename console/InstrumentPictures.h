#pragma once

#include <QIcon>
#include <QPixmap>

// The pictures of the two instrument kinds and the program's icon (resources/*.png, compiled
// into the program).
QPixmap MultiFilterPicture(int size);
QPixmap SingleFilterPicture(int size);
QIcon ProgramIcon();
