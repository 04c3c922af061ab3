#pragma once

#include "ui/clientservices.h"
#include "vpn/tunneladapter.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <memory>

class AccountPage;
class ConnectionPage;
class GuidedTour;
class NavButton;
struct PreviewAccount;
class QCloseEvent;
class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
class QVariantAnimation;
class SettingsPage;
class SignInPage;
class TrayController;

// The client's one window: a navigation rail beside a stack of four pages (0 sign-in,
// 1 connection, 2 account, 3 settings), painted by one stylesheet made for the chosen theme and
// accent. It owns the services the pages work with and follows the session.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum Page
    {
        SignIn = 0,
        Connection = 1,
        Account = 2,
        Settings = 3
    };

    // Without an adapter the real one, which drives the tunnel program, is used. Smoke, preview
    // and capture runs disable the lookups: they reach nothing outside.
    explicit MainWindow(std::unique_ptr<TunnelAdapter> adapter = nullptr,
                        ClientServices::Lookups lookups = ClientServices::Lookups::Enabled,
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    ClientServices &services() { return *m_services; }
    // The tray icon, Quit and what closing the window means.
    TrayController &tray() { return *m_tray; }
    SignInPage *signInPage() const { return m_signInPage; }
    ConnectionPage *connectionPage() const { return m_connectionPage; }
    AccountPage *accountPage() const { return m_accountPage; }
    SettingsPage *settingsPage() const { return m_settingsPage; }
    QStackedWidget *pages() const { return m_stack; }
    QFrame *navigationIndicator() const { return m_navIndicator; }
    // The rail button of page 1, 2 or 3; null for any other index.
    NavButton *navigationButton(int page) const;

    // Restyles the whole window from the "theme" and "accent" settings.
    void applyTheme();
    // Switches the stack; the old page's picture fades and slides away over the new one.
    void showPage(int index);
    // Brings the rail in line with the page on top.
    void syncNavigation(int index);
    // Puts `text` in the message label of the page on top.
    void showError(const QString &text);
    void clearMessages();
    // Signs out at the backend, then locally; refused while a tunnel is up or changing.
    void logout();

    // Signs the sample account in and shows it instead of a backend session: its servers with one
    // selected, its plan and devices. Nothing is asked of the backend afterwards either.
    void showSampleAccount(const PreviewAccount &account);
    bool previewMode() const { return m_previewMode; }

    GuidedTour &guidedTour() { return *m_guidedTour; }
    // The tour from its start; also what the quick guide and the tray offer.
    void showWelcomeGuide();

public slots:
    // Called once, shortly after a first start: marks the tour as wanted and, while signed out,
    // shows the quick guide that offers it.
    void maybeOfferTour();

protected:
    // Closing the window is not quitting: the tray controller decides.
    void closeEvent(QCloseEvent *event) override;

private:
    void buildRail();
    void connectServices();
    void openPage(int index);
    void handleSession(bool authenticated);
    // The account page's reports: errors, the plan line, the access tier, sign-out.
    void connectAccountPage();
    void controllerChanged();
    // The first complete catalogue of a session: the remembered location, and a connect when a
    // restored session asks for one.
    void catalogueLoaded();

    std::unique_ptr<ClientServices> m_services;
    QString m_styleTemplate;
    QStackedWidget *m_stack = nullptr;
    QFrame *m_rail = nullptr;
    QFrame *m_navIndicator = nullptr;
    NavButton *m_connectionButton = nullptr;
    NavButton *m_accountButton = nullptr;
    NavButton *m_settingsButton = nullptr;
    SignInPage *m_signInPage = nullptr;
    ConnectionPage *m_connectionPage = nullptr;
    AccountPage *m_accountPage = nullptr;
    SettingsPage *m_settingsPage = nullptr;
    QPointer<QLabel> m_transition;
    QPointer<QVariantAnimation> m_indicatorAnimation;
    QTimer *m_sweepTimer = nullptr;
    TrayController *m_tray = nullptr;
    // The user's own position is looked up once, and never through a running tunnel.
    bool m_ownLocationRequested = false;
    bool m_signedInShown = false;
    int m_sessionGeneration = 0;
    // A sign-out request is on its way: further clicks on "Sign out" wait for it.
    bool m_loggingOut = false;
    // The stored session is being restored: the sign-in it leads to was not typed by the user.
    bool m_restoringSession = false;
    bool m_firstCatalogueOfSession = false;
    bool m_connectAfterFirstCatalogue = false;
    GuidedTour *m_guidedTour = nullptr;
    bool m_previewMode = false;
};
