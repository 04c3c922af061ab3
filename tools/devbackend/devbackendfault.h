#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// A scripted failure for one route of the development backend.
//
// Qt 6.4's QNetworkAccessManager silently sends a request once more, POST included, when a
// kept-alive connection closes without a reply. A Drop meant to reach the client as status 0 must
// therefore drop twice (count 2); with afterHandling the first attempt has already taken effect,
// which is exactly what idempotent creation has to survive.
struct DevBackendFault
{
    enum class Kind
    {
        Delay,     // wait delayMs, then answer normally
        Drop,      // close the connection without a reply
        Status,    // answer with `status` and `body` instead of the real reply
        NonJson,   // answer 200 with an HTML page
        ArrayBody, // answer with a top-level JSON array (page items, or the object inside [])
    };

    Kind kind = Kind::Drop;
    int delayMs = 0;
    int status = 500;
    QByteArray body = {};
    int count = 1; // requests it applies to; -1 for every request
    // Requests of the route answered normally before the fault applies (a failing second page).
    int skip = 0;
    // Let the request take effect first (state changes), then apply the fault to the reply.
    bool afterHandling = false;

    static DevBackendFault delay(int ms, int count = -1);
    static DevBackendFault drop(int count = 2, bool afterHandling = false);
    static DevBackendFault withStatus(int status, const QByteArray &body = {}, int count = -1,
                                      bool afterHandling = false);
    static DevBackendFault nonJson(int count = -1, bool afterHandling = false);
    static DevBackendFault arrayBody(int count = -1);

    // The same fault, applied only after `requests` requests of its route went through normally.
    DevBackendFault afterRequests(int requests) const;

    // The JSON form used by the "/__dev/faults" route: {"route", "kind": "delay" | "drop" |
    // "status" | "nonJson" | "arrayBody", "delayMs", "status", "body", "count", "afterHandling",
    // "skip"}.
    static std::optional<DevBackendFault> fromJson(const QJsonObject &object, QString *error);
};
