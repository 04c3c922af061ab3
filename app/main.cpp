#include "app/clientstartup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    return clientstartup::run(application, QCoreApplication::arguments());
}
