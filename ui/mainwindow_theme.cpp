#include "ui/mainwindow.h"

#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/signinpage.h"
#include "ui/theme/icontint.h"
#include "ui/theme/stylesheet.h"
#include "ui/theme/themepalette.h"
#include "ui/widgets/navbutton.h"
#include "ui/widgets/worldmap.h"

#include <QAction>
#include <QLineEdit>

namespace {

constexpr int passwordEyeInset = 8;

} // namespace

void MainWindow::applyTheme()
{
    const ThemePalette palette = ThemePalette::fromSettings();
    // Setting a style sheet polishes every widget again, the costliest step of a window's start:
    // skipped when the look did not change.
    const QString styleSheet = stylesheet::themed(m_styleTemplate, palette);
    if (styleSheet != this->styleSheet()) {
        setStyleSheet(styleSheet);
    }
    setWindowIcon(QIcon(QStringLiteral(":/app/solvikvpn.ico")));
    // The early call of construction comes before the pages exist.
    if (m_connectionPage) {
        m_signInPage->worldMap()->setAppearance(palette.light, palette.accent);
        m_connectionPage->setAppearance(palette.light, palette.accent);
    }
    // The plan pill is coloured by the accent.
    if (m_accountPage) {
        m_accountPage->renderPlanCard();
    }

    icontint::retint(this, palette);
    // The window's page buttons tint their icons themselves, brightening while they become active.
    if (m_connectionButton) {
        for (NavButton *button : {m_connectionButton, m_accountButton, m_settingsButton}) {
            button->setColours(palette.mutedIcon, palette.navIconActive);
        }
    }
    const QList<QAction *> actions = findChildren<QAction *>();
    for (QAction *action : actions) {
        if (action->property("solvikvpnPasswordEye").toBool()) {
            action->setProperty("solvikvpnLeftInset", passwordEyeInset);
        }
    }
    // The eye sits inside the field: keep the typed text clear of it.
    const QList<QLineEdit *> edits = findChildren<QLineEdit *>();
    for (QLineEdit *edit : edits) {
        const QList<QAction *> editActions = edit->actions();
        for (QAction *action : editActions) {
            if (action->property("solvikvpnPasswordEye").toBool()) {
                const int iconWidth = action->icon().actualSize(QSize(18, 18)).width();
                edit->setTextMargins(0, 0,
                                     action->property("solvikvpnLeftInset").toInt() + iconWidth, 0);
            }
        }
    }
}
