#include "failuremessages.h"

namespace api {

QString failureMessage(int status, bool cancelled)
{
    if (cancelled)
        return QStringLiteral("The request was interrupted. Please try again.");
    switch (status) {
    case 0:
        return QStringLiteral(
            "Could not reach the server. Check your internet connection and try again.");
    case 400:
        return QStringLiteral(
            "Something went wrong with this request. Please try again or contact support.");
    case 401:
        return QStringLiteral("Your session has expired. Please sign in again.");
    case 403:
        return QStringLiteral("Your account cannot perform this action. Check your subscription "
                              "or contact support.");
    case 404:
        return QStringLiteral("We could not find what you requested. Refresh and try again.");
    case 409:
        return QStringLiteral("This action could not be completed because the account has "
                              "changed. Refresh and try again.");
    case 429:
        return QStringLiteral("Too many attempts. Please wait a moment and try again.");
    default:
        return QStringLiteral("Something went wrong on our side. Please try again later.");
    }
}

QString failureLine(int status, bool cancelled)
{
    return failureMessage(status, cancelled).section(u'\n', 0, 0);
}

QString signInFailureMessage(int status, const QJsonObject &body)
{
    const QJsonValue code =
        body.value(QLatin1String("error")).toObject().value(QLatin1String("code"));
    if (status == 409 && code.isString() &&
        code.toString() == QLatin1String("DEVICE_LIMIT_REACHED")) {
        return QStringLiteral("All 3 device slots are in use. Remove a device from another "
                              "signed-in device, then try again.");
    }
    switch (status) {
    case 401:
        return QStringLiteral("Incorrect email or password.");
    case 403:
        return QStringLiteral(
            "Sign-in is not allowed for this account. Verify your email or contact support.");
    case 400:
        return QStringLiteral("The sign-in request was rejected. Update Solvik VPN and try again.");
    case 0:
        return QStringLiteral("Could not reach the server. Please try again.");
    case 429:
        return QStringLiteral("Too many attempts. Please try again later.");
    default:
        return QStringLiteral("Could not sign in. Please try again later.");
    }
}

} // namespace api
