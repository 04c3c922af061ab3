#pragma once

#include <QJsonObject>
#include <QString>

// The user-facing sentence for a backend request that did not succeed. Nothing in the text comes
// from the reply.
namespace api {

// For every request.
QString failureMessage(int status, bool cancelled);

// The text of failureMessage up to its first line feed, for the places that show one line.
QString failureLine(int status, bool cancelled);

// For POST "/auth/login", whose 401, 403 and device-limit 409 mean something else to the user.
QString signInFailureMessage(int status, const QJsonObject &body);

} // namespace api
