#include "app/ErrorReport.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace vinsk {

QString ErrorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString ApplicationTitle()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

} // namespace vinsk
