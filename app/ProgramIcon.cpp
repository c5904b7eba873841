#include "app/ProgramIcon.h"

#include <QLatin1String>
#include <QString>

namespace vinsk {

QIcon ProgramWindowIcon()
{
    QIcon icon;
    for (int size : {48, 128, 256})
        icon.addFile(QStringLiteral(":/vinsk/icons/%1-%2.png").arg(QLatin1String(DesktopId)).arg(size), QSize(size, size));
    return icon;
}

} // namespace vinsk
