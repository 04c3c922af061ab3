#include "app/applicationidentity.h"

#include <QCoreApplication>

namespace identity {

void apply(RunKind kind)
{
    switch (kind) {
    case RunKind::Normal:
        QCoreApplication::setOrganizationName(QStringLiteral("SolvikVPN"));
        QCoreApplication::setApplicationName(QStringLiteral("SolvikVPN"));
        break;
    case RunKind::SmokeTest:
        QCoreApplication::setOrganizationName(QStringLiteral("SolvikVPNTests"));
        QCoreApplication::setApplicationName(QStringLiteral("SmokeTest"));
        break;
    case RunKind::WebsiteAssets:
        QCoreApplication::setOrganizationName(QStringLiteral("SolvikVPNTests"));
        QCoreApplication::setApplicationName(QStringLiteral("WebsiteAssets"));
        break;
    }
    QCoreApplication::setApplicationVersion(version);
}

} // namespace identity
