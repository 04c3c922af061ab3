#include "common/enginecommand.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

namespace enginecommand {

QString engineDirectory(const QString &applicationDirectory)
{
    return applicationDirectory + u"/core"_s;
}

QString enginePath(const QString &applicationDirectory)
{
    return engineDirectory(applicationDirectory) + u"/sing-box"_s +
           QLatin1String(SOLVIKVPN_EXE_SUFFIX);
}

QStringList checkArguments()
{
    return {QStringLiteral("check"), QStringLiteral("-c"), QStringLiteral("stdin")};
}

QString runArguments()
{
    return QStringLiteral("run -c stdin --disable-color");
}

QString runCommandLine(const QString &applicationDirectory)
{
    return u'"' + QDir::toNativeSeparators(enginePath(applicationDirectory)) + u"\" "_s +
           runArguments();
}

} // namespace enginecommand
