#pragma once

#include "ui/clientservices.h"
#include "ui/windowview.h"
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
class QShowEvent;
class QStackedWidget;
class QTimer;
class QVariantAnimation;
class SettingsPage;
class SignInPage;
class TrayController;
struct ThemePalette;

// The client's one window: a navigation rail beside a stack of four pages (0 sign-in,
// 1 connection, 2 account, 3 settings), painted by one stylesheet made for the chosen theme and
// accent. It owns the services the pages work with and follows the session.
class MainWindow : public QMainWindow, public WindowView
{
    Q_OBJECT

public:
    // Without an adapter the real one, which drives the tunnel program, is used. Smoke, preview
    // and capture runs disable the lookups: they reach nothing outside.
    explicit MainWindow(std::unique_ptr<TunnelAdapter> adapter = nullptr,
                        ClientServices::Lookups lookups = ClientServices::Lookups::Enabled,
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    ClientServices &services() { return *m_services; }
    // The tray icon, Quit and what closing the window means.
    TrayController &tray();
    SignInPage *signInPage() const { return m_signInPage; }
    // The pages the signed-out window does not show are built after its first frame, or when
    // first asked for.
    ConnectionPage *connectionPage();
    AccountPage *accountPage();
    SettingsPage *settingsPage();
    QStackedWidget *pages() const { return m_stack; }
    QFrame *navigationIndicator() const { return m_navIndicator; }
    // The rail button of a signed-in page; null for the sign-in page.
    NavButton *navigationButton(Page page) const;

    // Restyles the whole window from the "theme" and "accent" settings.
    void applyTheme();
    // Off for smoke runs: the settings page then changes nothing of the system.
    void setSystemChangesAllowed(bool allowed);
    // Writes the problem report the user asked for; says on the settings page when it cannot.
    void saveProblemReport(const QString &path);
    QWidget &surface() override { return *this; }
    Page currentPage() const override;
    void showPage(Page page) override;
    QWidget *landmark(Landmark landmark) override;
    // Brings the rail in line with the page on top.
    void syncNavigation(Page page);
    // Puts `text` in the message label of the page on top.
    void showError(const QString &text);
    // Clears the message `text` wherever it is still shown.
    void withdrawError(const QString &text);
    void clearMessages();
    // Signs out at the backend, then locally; refused while a tunnel is up or changing.
    void logout();

    void showSampleAccount(const PreviewAccount &account) override;
    void showSampleConnection(const QString &serverId, const QString &elapsed,
                              const ServerLocation &ownLocation) override;
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
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The connection, account and settings pages, the tray icon and the lookup of the user's own
    // location; once.
    void buildPages();
    void connectPages();
    // What the theme gives the pages beyond the style sheet.
    void themePages(const ThemePalette &palette);
    // Changed preferences go to the client's log.
    void logSettingChanges();
    // Each page's message label.
    QList<QLabel *> messageLabels() const;
    void buildRail();
    void connectServices();
    void openPage(Page page);
    void handleSession(bool authenticated);
    // The account page's reports: errors, the plan line, the access tier, sign-out.
    void connectAccountPage();
    void controllerChanged();
    // The connection page's state and the tray's menu, from the controller and the session.
    void syncPagesWithController();
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
    TrayController *m_tray = nullptr;
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
    bool m_systemChangesAllowed = true;
};
