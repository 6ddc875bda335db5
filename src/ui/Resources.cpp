#include "ui/Resources.h"

#include <QtCore/qglobal.h>

void InitResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(penrika);
        return true;
    }();
    (void)done;
}
