#include "platform/exitstatus.h"
#include "tunnel/tunnelprogram.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // The application object gives the health check its event loop and the program its path.
    QCoreApplication application(argc, argv);
    // Outcomes are Windows error numbers; the seam fits them into the system's exit status.
    return platform::toExitStatus(runTunnelProgram(QCoreApplication::arguments().mid(1),
                                                   QCoreApplication::applicationFilePath()));
}
