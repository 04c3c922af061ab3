#include "app/clientstartup.h"

#include "platform/systemfonts.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    platform::readSystemFontsAhead();
    QApplication application(argc, argv);
    return clientstartup::run(application, QCoreApplication::arguments());
}
