#pragma once

#include <QWidget>

#include <functional>
#include <string>

class AppearanceCombo;
class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;
class ToggleSwitch;

// Page 3: the colour theme, the accent colour and how the client starts and reports. A choice is
// stored at once; the window restyles itself on the appearance signal.
class SettingsPage : public QWidget
{
    Q_OBJECT

public:
    // The system's start-at-sign-in registration; an empty member goes through the OS seam.
    struct StartAtLogin
    {
        std::function<bool()> isRegistered;
        std::function<bool(const std::string &programPath)> registerProgram;
        std::function<bool()> unregisterProgram;
    };

    // Where the user saves a problem report; empty when they cancel.
    using ReportPathChooser = std::function<QString(QWidget *parent)>;

    explicit SettingsPage(QWidget *parent = nullptr, StartAtLogin startAtLogin = {});

    QLabel *messageLabel() const { return m_message; }
    AppearanceCombo *themeChooser() const { return m_theme; }
    AppearanceCombo *accentChooser() const { return m_accent; }
    QFrame *appearanceCard() const { return m_appearanceCard; }
    QFrame *connectionCard() const { return m_connectionCard; }
    ToggleSwitch *connectOnStartSwitch() const { return m_connectOnStart; }
    ToggleSwitch *reconnectSwitch() const { return m_reconnect; }
    ToggleSwitch *blockSwitch() const { return m_blockIfDropped; }
    ToggleSwitch *localNetworkSwitch() const { return m_allowLocalNetwork; }
    ToggleSwitch *startAtLoginSwitch() const { return m_startAtLogin; }
    ToggleSwitch *notificationsSwitch() const { return m_notifications; }
    QPushButton *problemReportButton() const { return m_problemReport; }
    // Tests answer the platform's save dialog themselves.
    void setReportPathChooser(ReportPathChooser chooser)
    {
        m_chooseReportPath = std::move(chooser);
    }

    // Smoke, preview and capture runs show the registration but never change it; allowed by
    // default.
    void setSystemChangesAllowed(bool allowed);

signals:
    // "theme" or "accent" was stored.
    void appearanceChanged();
    // The user chose where to save a problem report.
    void problemReportRequested(const QString &path);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildConnectionCard();
    QFrame *buildSupportCard();
    ToggleSwitch *addSwitchRow(const QString &text, bool on, QVBoxLayout *layout);
    void recolourSwitches();
    // The registration is the truth: the switch and "startAtLogin" follow it, and nothing is
    // registered or removed here.
    void showStartAtLoginRegistration();
    void changeStartAtLogin(bool on);

    StartAtLogin m_startAtLoginSystem;
    bool m_systemChangesAllowed = true;
    AppearanceCombo *m_theme = nullptr;
    AppearanceCombo *m_accent = nullptr;
    QLabel *m_message = nullptr;
    QFrame *m_appearanceCard = nullptr;
    QFrame *m_connectionCard = nullptr;
    ToggleSwitch *m_connectOnStart = nullptr;
    ToggleSwitch *m_blockIfDropped = nullptr;
    ToggleSwitch *m_allowLocalNetwork = nullptr;
    ToggleSwitch *m_reconnect = nullptr;
    ToggleSwitch *m_startAtLogin = nullptr;
    ToggleSwitch *m_notifications = nullptr;
    QPushButton *m_problemReport = nullptr;
    ReportPathChooser m_chooseReportPath;
};
