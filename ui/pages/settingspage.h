#pragma once

#include <QWidget>

class AppearanceCombo;
class QFrame;
class QLabel;

// Page 3: the colour theme and the accent colour. A choice is stored at once and the window
// restyles itself on the signal.
class SettingsPage : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsPage(QWidget *parent = nullptr);

    QLabel *messageLabel() const { return m_message; }
    AppearanceCombo *themeChooser() const { return m_theme; }
    AppearanceCombo *accentChooser() const { return m_accent; }
    QFrame *appearanceCard() const { return m_appearanceCard; }

signals:
    // "theme" or "accent" was stored.
    void appearanceChanged();

private:
    AppearanceCombo *m_theme = nullptr;
    AppearanceCombo *m_accent = nullptr;
    QLabel *m_message = nullptr;
    QFrame *m_appearanceCard = nullptr;
};
