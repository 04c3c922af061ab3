#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// The sample account of the preview and capture runs, made of the same records the backend
// sends, so the pages render it with their usual code.
struct PreviewAccount
{
    QString email;
    QString userId;
    // This installation's device among `devices`.
    QString deviceId;
    QJsonArray servers;
    // The access record: "tier", "plan" and "subscription".
    QJsonObject access;
    // The plan offers, as the plans list returns them.
    QJsonArray offers;
    QJsonArray devices;
    QString selectedServerId;

    // The smoke run's account: an active plan, ten servers from the Netherlands to Japan and one
    // that names no country, three devices.
    static PreviewAccount smoke(const QDateTime &now);
    // The marketing images' account: the "Solvik Plus" plan and seven European servers.
    static PreviewAccount website(const QDateTime &now);
    // The access record of the free tier, with its plan switched on.
    static QJsonObject freeAccess();
};
