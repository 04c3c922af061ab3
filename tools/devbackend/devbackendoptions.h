#pragma once

#include <QString>

// What the development backend seeds and how it behaves. Defaults suit running the client by hand;
// tests shorten the token lifetime or change the shapes the client has to cope with.
struct DevBackendOptions
{
    QString demoEmail = QStringLiteral("demo@example.com");
    QString demoPassword = QStringLiteral("solvik-demo-2024");
    bool demoVerified = true;
    // "free" or "paid"; a paid demo account has an active 30-day subscription.
    QString demoTier = QStringLiteral("paid");

    // Usable servers (enabled, "vless-reality"), spread over `countries` countries.
    int servers = 45;
    int countries = 15;
    // Two more records the client must filter out: one disabled, one of another protocol.
    bool unusableServers = true;

    int accessTokenLifetimeSeconds = 60;
    int deviceLimit = 3;

    // Reply shapes: objects inside "data" (else bare), "/me" fields inside "user", and device ids
    // as JSON numbers in "/me", device lists and profile records (the sign-in reply keeps a
    // string).
    bool wrapInData = true;
    bool meInsideUser = false;
    bool numericDeviceIds = false;
};
