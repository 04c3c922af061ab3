#include "platform/exitstatus.h"
#include "platform/processenvironment.h"
#include "tunnel/tunnelprogram.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    // Runs with administrator rights or as LocalSystem: nothing in the environment it was given
    // may pick the code it loads or change what it does.
    platform::restrictProcessEnvironment();
    // The application object gives the health check its event loop and the program its path.
    QCoreApplication application(argc, argv);
    confinePluginFolders();
    // Outcomes are Windows error numbers; the seam fits them into the system's exit status.
    return platform::toExitStatus(runTunnelProgram(QCoreApplication::arguments().mid(1),
                                                   QCoreApplication::applicationFilePath()));
}
