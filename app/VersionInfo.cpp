#include "app/VersionInfo.h"

#include <QFile>

namespace vinsk {

TVersionTexts ReadVersionTexts(const QString& path)
{
    TVersionTexts t;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return t;
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("FileVersion"))
            t.FileVersionText = value;
        else if (key == QLatin1String("ProductVersion"))
            t.ProductVersionText = value;
    }
    return t;
}

} // namespace vinsk
