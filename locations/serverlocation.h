#pragma once

#include "api/backendrecords.h"

#include <QString>

// Where a server is, as the locations tree groups it and the world map places it.
struct ServerLocation
{
    QString countryCode; // upper case; may be empty
    QString country;     // the group's name; "Other locations" when nothing is known
    QString city;        // may be empty
    double longitude = 0;
    double latitude = 0;
    // A location was found, from the record's fields or its name.
    bool known = false;
    // The coordinates are real (from the location table or a geolocation). A location known only
    // by name, such as a country code outside the table, has none: the map neither draws it nor
    // flies to it.
    bool hasCoordinates = false;
};

// The location a text names (a server name, a country code or name), from the built-in table
// of cities and countries; "Other locations" when it names none.
ServerLocation inferLocation(const QString &text);

// The location of a server record: its "geoLocation", else its own location fields, else its
// name.
ServerLocation serverLocation(const api::ServerRecord &record);

// What a server is shown by when its place is unknown: the address its host resolved to, else the
// host of its endpoint.
QString serverAddress(const api::ServerRecord &record);

// Whether the search text `query` (trimmed; empty matches all) is found, in any letter case, in
// the server's country, city, name or address: users type whichever they know.
bool matchesSearch(const api::ServerRecord &record, const QString &query);

// The host part of an endpoint ("[2001:db8::5]:443" gives "2001:db8::5", "udp://h:51820" "h");
// the text itself when it carries no port.
QString hostOfEndpoint(const QString &endpoint);
