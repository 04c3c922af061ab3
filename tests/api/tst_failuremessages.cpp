#include "api/failuremessages.h"

#include <QJsonDocument>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString deviceLimitBody = uR"({"error":{"code":"DEVICE_LIMIT_REACHED","message":"x"}})"_s;
const QString serverSide = u"Something went wrong on our side. Please try again later."_s;
const QString couldNotSignIn = u"Could not sign in. Please try again later."_s;

} // namespace

class FailureMessagesTest : public QObject
{
    Q_OBJECT

private slots:
    void failureMessage_data();
    void failureMessage();
    void signInFailureMessage_data();
    void signInFailureMessage();
};

void FailureMessagesTest::failureMessage_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("expected");
    QTest::newRow("cancelled") << 0 << true << u"The request was interrupted. Please try again."_s;
    QTest::newRow("cancelled wins over status")
        << 401 << true << u"The request was interrupted. Please try again."_s;
    QTest::newRow("no reply")
        << 0 << false
        << u"Could not reach the server. Check your internet connection and try again."_s;
    QTest::newRow("400") << 400 << false
                         << u"Something went wrong with this request. Please try again or "
                            u"contact support."_s;
    QTest::newRow("401") << 401 << false << u"Your session has expired. Please sign in again."_s;
    QTest::newRow("403") << 403 << false
                         << u"Your account cannot perform this action. Check your subscription "
                            u"or contact support."_s;
    QTest::newRow("404") << 404 << false
                         << u"We could not find what you requested. Refresh and try again."_s;
    QTest::newRow("409") << 409 << false
                         << u"This action could not be completed because the account has "
                            u"changed. Refresh and try again."_s;
    QTest::newRow("429") << 429 << false
                         << u"Too many attempts. Please wait a moment and try again."_s;
    QTest::newRow("402") << 402 << false << serverSide;
    QTest::newRow("405") << 405 << false << serverSide;
    QTest::newRow("302") << 302 << false << serverSide;
    QTest::newRow("500") << 500 << false << serverSide;
    QTest::newRow("502 unparsable success") << 502 << false << serverSide;
    QTest::newRow("503") << 503 << false << serverSide;
}

void FailureMessagesTest::failureMessage()
{
    QFETCH(int, status);
    QFETCH(bool, cancelled);
    QFETCH(QString, expected);
    QCOMPARE(api::failureMessage(status, cancelled), expected);
}

void FailureMessagesTest::signInFailureMessage_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("expected");
    QTest::newRow("device limit") << 409 << deviceLimitBody
                                  << u"All 3 device slots are in use. Remove a device from "
                                     u"another signed-in device, then try again."_s;
    QTest::newRow("device code in lower case")
        << 409 << uR"({"error":{"code":"device_limit_reached"}})"_s << couldNotSignIn;
    QTest::newRow("409 without code") << 409 << QString() << couldNotSignIn;
    QTest::newRow("code at top level")
        << 409 << uR"({"code":"DEVICE_LIMIT_REACHED"})"_s << couldNotSignIn;
    QTest::newRow("error as string")
        << 409 << uR"({"error":"DEVICE_LIMIT_REACHED"})"_s << couldNotSignIn;
    QTest::newRow("code not a string")
        << 409 << uR"({"error":{"code":["DEVICE_LIMIT_REACHED"]}})"_s << couldNotSignIn;
    QTest::newRow("device code with other status")
        << 403 << deviceLimitBody
        << u"Sign-in is not allowed for this account. Verify your email or contact support."_s;
    QTest::newRow("401") << 401 << QString() << u"Incorrect email or password."_s;
    QTest::newRow("400") << 400 << QString()
                         << u"The sign-in request was rejected. Update Solvik VPN and try again."_s;
    QTest::newRow("no reply or cancelled")
        << 0 << QString() << u"Could not reach the server. Please try again."_s;
    QTest::newRow("429") << 429 << QString() << u"Too many attempts. Please try again later."_s;
    QTest::newRow("500") << 500 << QString() << couldNotSignIn;
    QTest::newRow("404") << 404 << QString() << couldNotSignIn;
}

void FailureMessagesTest::signInFailureMessage()
{
    QFETCH(int, status);
    QFETCH(QString, body);
    QFETCH(QString, expected);
    const QJsonObject object = QJsonDocument::fromJson(body.toUtf8()).object();
    QCOMPARE(api::signInFailureMessage(status, object), expected);
}

QTEST_GUILESS_MAIN(FailureMessagesTest)
#include "tst_failuremessages.moc"
