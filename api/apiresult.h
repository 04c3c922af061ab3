#pragma once

#include <QJsonObject>

// The outcome of one backend request, handed by value to the request's callback.
struct ApiResult
{
    // HTTP status; 0 when no reply arrived, 400 when refused before sending, 502 for a 2xx reply
    // whose body is not JSON.
    int status = 0;
    // Parsed reply body; a top-level array arrives as {"data": array}.
    QJsonObject body;
    // Set when cancelAll() ended the request before a result could be delivered.
    bool cancelled = false;

    bool successful() const { return !cancelled && status >= 200 && status <= 299; }
};
