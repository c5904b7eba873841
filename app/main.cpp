#include <QApplication>

#include "app/ProgramIcon.h"
#include "app/Unit1.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setWindowIcon(vinsk::ProgramWindowIcon());
    QGuiApplication::setDesktopFileName(QString::fromLatin1(vinsk::DesktopId));
    vinsk::TQtDialogs dialogs;
    vinsk::TVinsk_main window(dialogs);
    dialogs.SetParent(&window);
    window.show();
    return app.exec();
}
