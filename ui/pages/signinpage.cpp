#include "ui/pages/signinpage.h"

#include "api/backendcatalogue.h"
#include "api/devicecredentials.h"
#include "api/failuremessages.h"
#include "ui/clientservices.h"
#include "ui/productlinks.h"
#include "ui/theme/icontint.h"
#include "ui/theme/themepalette.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/worldmap.h"

#include <QAction>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addButton;
using widgetfactory::addLabel;
using widgetfactory::setMessage;

namespace {

constexpr int eyeIconSize = 20;
constexpr int authFormWidth = 288;

QLineEdit *addSecretField(const QString &placeholder, QLayout *layout)
{
    auto *field = new QLineEdit;
    field->setPlaceholderText(placeholder);
    field->setAccessibleName(placeholder);
    field->setEchoMode(QLineEdit::Password);
    layout->addWidget(field);
    return field;
}

} // namespace

SignInPage::SignInPage(ClientServices &services, QWidget *parent)
    : QWidget(parent)
    , m_services(services)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(44, 40, 0, 40);
    layout->setSpacing(44);
    layout->addWidget(makeForm());
    // The world map takes the rest of the page; it shows only the user's own position.
    m_worldMap = new WorldMap;
    layout->addWidget(m_worldMap, 1);
}

QWidget *SignInPage::makeForm()
{
    m_authForm = new QWidget;
    // Wide enough that no sentence of the form leaves a word on a line of its own.
    m_authForm->setFixedWidth(authFormWidth);
    auto *form = new QVBoxLayout(m_authForm);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(16);
    addLabel(u"SOLVIK VPN"_s, form, u"brand"_s);

    m_quickGuideCard = new QFrame;
    m_quickGuideCard->setObjectName(u"card"_s);
    m_quickGuideCard->hide();
    auto *guide = new QVBoxLayout(m_quickGuideCard);
    guide->setContentsMargins(14, 12, 14, 12);
    guide->setSpacing(6);
    auto *guideTitle = new QHBoxLayout;
    addLabel(u"New to Solvik VPN?"_s, guideTitle, u"section"_s);
    guideTitle->addStretch();
    QPushButton *dismiss = addButton(
        u"\u00d7"_s, guideTitle, this, [this] { emit quickGuideDismissed(); }, u"link"_s);
    dismiss->setFixedSize(28, 28);
    dismiss->setAccessibleName(u"Dismiss quick guide"_s);
    guide->addLayout(guideTitle);
    addLabel(u"Take a short tour of the app controls."_s, guide, u"muted"_s);
    addButton(
        u"Take the tour"_s, guide, this, [this] { emit tourRequested(); }, u"primary"_s);
    form->addWidget(m_quickGuideCard);

    form->addStretch();
    addLabel(u"Welcome back."_s, form, u"title"_s);
    addLabel(u"Sign in to manage your plan and connect."_s, form, u"muted"_s);
    form->addSpacing(16);

    m_emailEdit = new QLineEdit;
    m_emailEdit->setPlaceholderText(u"Email"_s);
    m_emailEdit->setAccessibleName(u"Email"_s);
    form->addWidget(m_emailEdit);
    m_passwordEdit = addSecretField(u"Password"_s, form);
    m_passwordEye = new QAction(m_passwordEdit);
    m_passwordEye->setCheckable(true);
    icontint::setIcon(m_passwordEye, u"eye"_s, eyeIconSize, ThemePalette::fromSettings());
    m_passwordEye->setText(u"Show password"_s);
    m_passwordEye->setToolTip(u"Show password"_s);
    // The field keeps its typed text clear of the eye by itself.
    m_passwordEdit->addAction(m_passwordEye, QLineEdit::TrailingPosition);
    connect(m_passwordEye, &QAction::toggled, this, &SignInPage::showPassword);
    m_authStatus = addLabel(QString(), form, u"error"_s);
    m_authStatus->hide();

    addButton(
        u"Sign in"_s, form, this, [this] { signIn(); }, u"primary"_s);
    addButton(
        u"Create account"_s, form, this, [this] { createAccount(); }, u"link"_s);
    auto *recoveryRow = new QHBoxLayout;
    addButton(
        u"Verify email"_s, recoveryRow, this, [this] { verification(); }, u"link"_s);
    addButton(
        u"Forgot password?"_s, recoveryRow, this, [this] { recovery(); }, u"link"_s);
    form->addLayout(recoveryRow);
    m_disconnectPrevious = addButton(
        u"Disconnect previous VPN"_s, form, this,
        [this] { m_services.controller().disconnectVpn(); }, u"link"_s);
    m_disconnectPrevious->hide();
    form->addStretch();
    addLabel(productlinks::websiteHost(), form, u"micro"_s);

    // Enter moves from the address to the password, and signs in from there.
    connect(m_emailEdit, &QLineEdit::returnPressed, m_passwordEdit,
            qOverload<>(&QWidget::setFocus));
    connect(m_passwordEdit, &QLineEdit::returnPressed, this, &SignInPage::signIn);
    return m_authForm;
}

void SignInPage::setFormEnabled(bool enabled)
{
    m_authForm->setEnabled(enabled);
}

void SignInPage::updateDisconnectPrevious()
{
    m_disconnectPrevious->setVisible(!m_services.session().authenticated() &&
                                     m_services.controller().running());
}

QString SignInPage::email() const
{
    return m_emailEdit->text().trimmed();
}

void SignInPage::signIn()
{
    authRequest(backend::login, {{u"email"_s, email()}, {u"password"_s, m_passwordEdit->text()}},
                QString(), true);
}

void SignInPage::createAccount()
{
    authRequest(backend::registerAccount,
                {{u"email"_s, email()}, {u"password"_s, m_passwordEdit->text()}},
                u"Account created. Verify your email using the token in your message."_s, false);
}

void SignInPage::authRequest(const QString &path, QJsonObject body, const QString &successMessage,
                             bool isSignIn)
{
    if (isSignIn) {
        emit clearMessagesRequested();
        const VpnController &controller = m_services.controller();
        if (controller.connecting() || controller.busy()) {
            return;
        }
        if (controller.running()) {
            setMessage(m_authStatus, u"Disconnect the previous account's VPN first."_s);
            return;
        }
        if (email().isEmpty() || m_passwordEdit->text().isEmpty()) {
            setMessage(m_authStatus, u"Incorrect email or password."_s);
            return;
        }
        QString error;
        const QJsonObject device = api::deviceInfo(&error);
        if (device.isEmpty()) {
            setMessage(m_authStatus, error);
            return;
        }
        body.insert(u"device"_s, device);
    }
    setMessage(m_authStatus, QString());
    setFormEnabled(false);
    m_services.api().request("POST", path, body, false,
                             [this, successMessage, isSignIn](const ApiResult &result) {
                                 finishRequest(result, successMessage, isSignIn);
                             });
}

void SignInPage::finishRequest(const ApiResult &result, const QString &successMessage,
                               bool isSignIn)
{
    m_passwordEdit->clear();
    m_passwordEye->setChecked(false);
    Session &session = m_services.session();
    setFormEnabled(!session.authenticated());
    if (result.successful()) {
        setMessage(m_authStatus, QString());
        if (!isSignIn) {
            setMessage(m_authStatus, successMessage);
        } else if (session.acceptTokens(result.body)) {
            // The profile check's changed(true) brings the connection page.
            setFormEnabled(false);
            session.checkProfile();
        }
        return;
    }
    setMessage(m_authStatus, isSignIn ? api::signInFailureMessage(result.status, result.body)
                                      : api::failureLine(result.status, result.cancelled));
}

void SignInPage::showPassword(bool shown)
{
    m_passwordEdit->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    const QString icon = shown ? u"eye-off"_s : u"eye"_s;
    const QString text = shown ? u"Hide password"_s : u"Show password"_s;
    m_passwordEye->setText(text);
    m_passwordEye->setToolTip(text);
    icontint::setIcon(m_passwordEye, icon, eyeIconSize, ThemePalette::fromSettings());
}

void SignInPage::verification()
{
    QDialog dialog(window());
    dialog.setWindowTitle(u"Verify your email"_s);
    dialog.setMinimumWidth(390);
    auto *layout = new QVBoxLayout(&dialog);
    addLabel(u"Enter the token from your email. In MAIL_MODE=memory, no email is sent; ask your "
             u"backend developer for the token."_s,
             layout, u"muted"_s);
    QLineEdit *token = addSecretField(u"Verification token"_s, layout);
    std::function<void()> request;
    addButton(
        u"Verify"_s, layout, &dialog,
        [&] {
            request = [this, value = token->text()] {
                authRequest(backend::verifyEmail, {{u"token"_s, value}},
                            u"Email verified. You can now sign in."_s, false);
            };
            dialog.accept();
        },
        u"primary"_s);
    addButton(
        u"Resend email"_s, layout, &dialog,
        [&] {
            request = [this] {
                authRequest(backend::resendVerification, {{u"email"_s, email()}},
                            u"Verification email requested."_s, false);
            };
            dialog.accept();
        },
        u"link"_s);
    dialog.exec();
    if (request) {
        request();
    }
}

void SignInPage::recovery()
{
    QDialog dialog(window());
    dialog.setWindowTitle(u"Reset password"_s);
    auto *layout = new QVBoxLayout(&dialog);
    addLabel(u"Request an email for the address entered on the sign-in screen, then enter the "
             u"token and a new password."_s,
             layout, u"muted"_s);
    std::function<void()> request;
    addButton(
        u"Send reset email"_s, layout, &dialog,
        [&] {
            request = [this] {
                authRequest(backend::forgotPassword, {{u"email"_s, email()}},
                            u"Check your email, then return here with the reset token."_s, false);
            };
            dialog.accept();
        },
        QString());
    QLineEdit *token = addSecretField(u"Token from your email"_s, layout);
    QLineEdit *password = addSecretField(u"New password"_s, layout);
    addButton(
        u"Update password"_s, layout, &dialog,
        [&] {
            request = [this, values = QJsonObject{{u"token"_s, token->text()},
                                                  {u"password"_s, password->text()}}] {
                authRequest(backend::resetPassword, values, u"Password updated. Sign in again."_s,
                            false);
            };
            dialog.accept();
        },
        u"primary"_s);
    dialog.exec();
    if (request) {
        request();
    }
}
