#include <QApplication>

#include "app/Unit1.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    vinsk::TQtDialogs dialogs;
    vinsk::TVinsk_main window(dialogs);
    dialogs.SetParent(&window);
    window.show();
    return app.exec();
}
