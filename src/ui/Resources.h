// The program's compiled-in resources (toolbar images, icon, help pages).
#pragma once

#include <QString>

// Registers them; safe to call any number of times. Needed because they live in a static
// library, where nothing else would pull them into the program.
void InitResources();

// The resource path of one of the program's images ("write" -> ":/icons/write.svg"). A build
// without Qt's SVG module carries them as PNG.
inline QString ImagePath(const char* name) {
#ifdef PENRIKA_PNG_IMAGES
    return QStringLiteral(":/icons/%1.png").arg(QLatin1String(name));
#else
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name));
#endif
}
