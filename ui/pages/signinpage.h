#pragma once

#include "api/apiresult.h"

#include <QJsonObject>
#include <QString>
#include <QWidget>

class ClientServices;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class WorldMap;

// Page 0, shown while nobody is signed in: sign in, create an account, verify the e-mail address,
// reset the password, and the quick guide that offers the tour. Every account request goes
// through authRequest, which reports its outcome in the page's one status label.
class SignInPage : public QWidget
{
    Q_OBJECT

public:
    explicit SignInPage(ClientServices &services, QWidget *parent = nullptr);

    // The page's message label: hidden while empty.
    QLabel *messageLabel() const { return m_authStatus; }
    // The form column: brand, quick guide, fields and buttons.
    QWidget *authForm() const { return m_authForm; }
    QLineEdit *emailEdit() const { return m_emailEdit; }
    QLineEdit *passwordEdit() const { return m_passwordEdit; }
    QAction *passwordEye() const { return m_passwordEye; }
    QFrame *quickGuideCard() const { return m_quickGuideCard; }
    WorldMap *worldMap() const { return m_worldMap; }

    // The form takes input exactly while signed out and no request is in flight.
    void setFormEnabled(bool enabled);
    // "Disconnect previous VPN" is offered while signed out and a tunnel of an earlier account
    // still runs.
    void updateDisconnectPrevious();

    // Sends one account request. Sign-in first checks the VPN state, the fields and the device
    // credentials; the other requests are sent as they are and show the backend's answer.
    void authRequest(const QString &path, QJsonObject body, const QString &successMessage,
                     bool isSignIn);

signals:
    // Sign-in starts from a clean slate on every page.
    void clearMessagesRequested();
    void tourRequested();
    // The quick guide's "×"; the tour ends as if skipped, which also hides the card.
    void quickGuideDismissed();

private:
    QWidget *makeForm();
    void signIn();
    void createAccount();
    // The modal "Verify your email" and "Reset password" dialogs; their requests are sent once
    // they have closed.
    void verification();
    void recovery();
    void showPassword(bool shown);
    void finishRequest(const ApiResult &result, const QString &successMessage, bool isSignIn);
    QString email() const;

    ClientServices &m_services;
    QWidget *m_authForm = nullptr;
    QLineEdit *m_emailEdit = nullptr;
    QLineEdit *m_passwordEdit = nullptr;
    QAction *m_passwordEye = nullptr;
    QLabel *m_authStatus = nullptr;
    QFrame *m_quickGuideCard = nullptr;
    QPushButton *m_disconnectPrevious = nullptr;
    WorldMap *m_worldMap = nullptr;
};
