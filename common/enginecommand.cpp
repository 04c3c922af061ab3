#include "common/enginecommand.h"

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

QStringList runArguments()
{
    return {QStringLiteral("run"), QStringLiteral("-c"), QStringLiteral("stdin"),
            QStringLiteral("--disable-color")};
}

QStringList versionArguments()
{
    return {QStringLiteral("version")};
}

} // namespace enginecommand
