#include "ui/mainwindow.h"

#include "api/backendcatalogue.h"
#include "api/failuremessages.h"
#include "settings/settingskeys.h"
#include "ui/clientservices.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/settingspage.h"
#include "ui/pages/signinpage.h"
#include "ui/widgetfactory.h"

#include <QLabel>
#include <QStackedWidget>

using widgetfactory::setMessage;

void MainWindow::showError(const QString &text)
{
    QLabel *label = m_signInPage->messageLabel();
    switch (m_stack->currentIndex()) {
    case Connection:
        label = m_connectionPage->messageLabel();
        break;
    case Account:
        label = m_accountPage->messageLabel();
        break;
    case Settings:
        label = m_settingsPage->messageLabel();
        break;
    default:
        break;
    }
    setMessage(label, text);
}

void MainWindow::withdrawError(const QString &text)
{
    for (QLabel *label : messageLabels()) {
        if (label->text() == text) {
            setMessage(label, QString());
        }
    }
}

QList<QLabel *> MainWindow::messageLabels() const
{
    if (!m_connectionPage) {
        return {m_signInPage->messageLabel()};
    }
    return {m_signInPage->messageLabel(), m_connectionPage->messageLabel(),
            m_accountPage->messageLabel(), m_settingsPage->messageLabel()};
}

void MainWindow::clearMessages()
{
    for (QLabel *label : messageLabels()) {
        setMessage(label, QString());
    }
}

void MainWindow::handleSession(bool authenticated)
{
    if (authenticated) {
        clearMessages();
        // Token refreshes repeat the notification; the window has switched already.
        if (m_signedInShown) {
            return;
        }
    } else {
        connectionPage()->clearLocations();
        setMessage(connectionPage()->messageLabel(), QString());
    }
    ++m_sessionGeneration;
    m_signInPage->setFormEnabled(!authenticated);
    showPage(authenticated ? Connection : SignIn);
    VpnController &controller = m_services->controller();
    const QString apiUrl = m_services->api().baseUrl().toString();
    if (authenticated) {
        m_signedInShown = true;
        // A tunnel found running before the account is applied is never joined by a connect.
        const bool tunnelFound = controller.running() || controller.busy();
        const Session &session = m_services->session();
        controller.setAccount(apiUrl, session.userId(), session.deviceId());
        // Sample accounts bring their records with them, and never connect.
        if (!m_previewMode) {
            m_firstCatalogueOfSession = true;
            m_connectAfterFirstCatalogue =
                m_restoringSession && !tunnelFound && settings::connectOnStart();
            accountPage()->signedIn(m_sessionGeneration);
            connectionPage()->loadServers();
        }
        m_restoringSession = false;
    } else {
        // The next account chooses its own location.
        if (m_signedInShown) {
            settings::removeLastServerId();
        }
        m_signedInShown = false;
        m_restoringSession = false;
        m_firstCatalogueOfSession = false;
        m_connectAfterFirstCatalogue = false;
        controller.setAccount(apiUrl, QString(), QString());
        accountPage()->signedOut(m_sessionGeneration);
        connectionPage()->setAccessTier(QString());
    }
    controllerChanged();
}

void MainWindow::connectAccountPage()
{
    connect(m_accountPage, &AccountPage::errorRaised, this, &MainWindow::showError);
    connect(m_accountPage, &AccountPage::planSummaryChanged, m_connectionPage,
            &ConnectionPage::setPlanSummary);
    connect(m_accountPage, &AccountPage::accessReceived, this,
            [this](const QString &tier, bool changed) {
                m_connectionPage->setAccessTier(tier);
                // Another tier or plan may open or close servers.
                if (changed) {
                    m_connectionPage->loadServers();
                }
            });
    connect(m_accountPage, &AccountPage::logoutRequested, this, &MainWindow::logout);
    connect(m_accountPage, &AccountPage::signedOutWithNotice, this,
            [this](const QString &text) { setMessage(m_signInPage->messageLabel(), text); });
}

void MainWindow::logout()
{
    if (m_loggingOut) {
        return;
    }
    const VpnController &controller = m_services->controller();
    if (controller.connecting() || controller.busy() || controller.running() ||
        controller.blocked()) {
        accountPage()->refuseSignOut(QStringLiteral("Disconnect the VPN first."));
        return;
    }
    m_loggingOut = true;
    m_services->api().request("POST", backend::logout, QJsonObject(), true,
                              [this](const ApiResult &result) {
                                  m_loggingOut = false;
                                  // A session the backend no longer knows ends here too.
                                  if (result.successful() || result.status == 401) {
                                      m_services->session().clear();
                                      return;
                                  }
                                  showError(api::failureMessage(result.status, result.cancelled));
                              });
}
