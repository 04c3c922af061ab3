#include "ui/mainwindow.h"

#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/signinpage.h"
#include "ui/theme/icontint.h"
#include "ui/theme/stylesheet.h"
#include "ui/theme/themepalette.h"
#include "ui/widgets/navbutton.h"
#include "ui/widgets/worldmap.h"

void MainWindow::applyTheme()
{
    const ThemePalette palette = ThemePalette::fromSettings();
    // Setting a style sheet polishes every widget again, the costliest step of a window's start:
    // skipped when the look did not change.
    const QString styleSheet = stylesheet::themed(m_styleTemplate, palette);
    if (styleSheet != this->styleSheet()) {
        setStyleSheet(styleSheet);
    }
    // The early call of construction comes before the pages exist.
    if (m_signInPage) {
        m_signInPage->worldMap()->setAppearance(palette.light, palette.accent);
    }
    if (m_connectionPage) {
        themePages(palette);
    }

    icontint::retint(this, palette);
    // The window's page buttons tint their icons themselves, brightening while they become active.
    if (m_connectionButton) {
        for (NavButton *button : {m_connectionButton, m_accountButton, m_settingsButton}) {
            button->setColours(palette.mutedIcon, palette.navIconActive);
        }
    }
}

void MainWindow::themePages(const ThemePalette &palette)
{
    m_connectionPage->setAppearance(palette.light, palette.accent);
    // The plan pill is coloured by the accent.
    m_accountPage->renderPlanCard();
}
