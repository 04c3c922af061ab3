#include "ui/mainwindow.h"

#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/signinpage.h"
#include "ui/theme/iconloader.h"
#include "ui/theme/stylesheet.h"
#include "ui/theme/themepalette.h"
#include "ui/widgets/navbutton.h"
#include "ui/widgets/worldmap.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int actionIconSize = 20;
constexpr int passwordEyeInset = 8;

QString iconName(const QObject *object)
{
    return object->property("solvikvpnIcon").toString();
}

int iconEdge(const QObject *object)
{
    return object->property("solvikvpnIconSize").toInt();
}

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

    const QList<QPushButton *> buttons = findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        const QString name = iconName(button);
        if (name.isEmpty()) {
            continue;
        }
        if (auto *navButton = qobject_cast<NavButton *>(button);
            navButton && button->property("solvikvpnNavTab").isValid()) {
            navButton->setColours(palette.mutedIcon, palette.mutedIcon.lighter(135));
            continue;
        }
        QColor tint = palette.mutedIcon;
        if (name == QLatin1String("shield")) {
            tint = palette.accent;
        } else if (name == QLatin1String("power")) {
            tint = palette.accent.darker(palette.light ? 240 : 300);
        }
        button->setIcon(loadIcon(name, tint, iconEdge(button)));
    }
    const QList<QLabel *> labels = findChildren<QLabel *>();
    for (QLabel *label : labels) {
        const QString name = iconName(label);
        if (!name.isEmpty()) {
            const QColor tint =
                name == QLatin1String("shield") ? palette.accent : palette.mutedIcon;
            const int size = iconEdge(label);
            label->setPixmap(loadIcon(name, tint, size).pixmap(size, size));
        }
    }
    const QList<QAction *> actions = findChildren<QAction *>();
    for (QAction *action : actions) {
        const QString name = iconName(action);
        if (name.isEmpty()) {
            continue;
        }
        action->setIcon(loadIcon(name, palette.mutedIcon, actionIconSize));
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
