#include "console/InstrumentPictures.h"

// Resources compiled into a static library are not registered by themselves. At global scope:
// the registration function the resource compiler generates lives there.
static void RegisterPictures() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(pravik);
        return true;
    }();
    (void)registered;
}

namespace {

QPixmap Picture(const char* name, int size) {
    RegisterPictures();
    const QPixmap picture(QString(":/pictures/%1").arg(name));
    return picture.width() == size
               ? picture
               : picture.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

QPixmap MultiFilterPicture(int size) {
    return Picture("multi_filter.png", size);
}

QPixmap SingleFilterPicture(int size) {
    return Picture("single_filter.png", size);
}

QIcon ProgramIcon() {
    RegisterPictures();
    return QIcon(":/pictures/pravik.png");
}
