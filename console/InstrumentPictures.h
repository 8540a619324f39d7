#pragma once

#include <QIcon>
#include <QPixmap>

// The pictures of the two instrument kinds and the program's icon, drawn rather than shipped as
// files, so that they scale with the screen and need no image plugin.
QPixmap MultiFilterPicture(int size);
QPixmap SingleFilterPicture(int size);
QIcon ProgramIcon();
