#include "ui/mainwindow.h"

#include "settings/settingskeys.h"
#include "ui/clientservices.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/signinpage.h"
#include "ui/theme/themepalette.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/navbutton.h"

#include <QEasingCurve>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>
#include <QStackedWidget>

namespace {

constexpr int transitionMs = 360;
constexpr int transitionSlide = 32;
constexpr int indicatorMs = 230;

} // namespace

void MainWindow::openPage(Page page)
{
    if (!m_services->session().authenticated()) {
        if (page == Settings) {
            widgetfactory::setMessage(m_signInPage->messageLabel(),
                                      QStringLiteral("Sign in to change settings."));
        }
        return;
    }
    showPage(page);
    // The account page is brought up to date each time it is opened.
    if (page == Account && !m_previewMode) {
        accountPage()->loadDevices(1);
        accountPage()->refreshSubscription();
    }
}

MainWindow::Page MainWindow::currentPage() const
{
    return Page(m_stack->currentIndex());
}

void MainWindow::showPage(Page page)
{
    if (page != SignIn) {
        buildPages();
    }
    // Only one page picture fades at a time: a new switch ends the previous one at once.
    delete m_transition;
    if (page == currentPage() || !isVisible()) {
        m_stack->setCurrentIndex(page);
        return;
    }
    // Taken from the window, so what shows through a page without a background of its own (the
    // window's) is in the picture as it was on screen.
    const QPixmap before = grab(QRect(m_stack->mapTo(this, QPoint(0, 0)), m_stack->size()));
    m_stack->setCurrentIndex(page);
    auto *overlay = new QLabel(m_stack);
    overlay->setScaledContents(true);
    overlay->setPixmap(before);
    overlay->setGeometry(m_stack->rect());
    overlay->raise();
    overlay->show();
    auto *opacity = new QGraphicsOpacityEffect(overlay);
    opacity->setOpacity(1.0);
    overlay->setGraphicsEffect(opacity);
    m_transition = overlay;

    auto *group = new QParallelAnimationGroup(overlay);
    auto *fade = new QPropertyAnimation(opacity, "opacity", group);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    auto *slide = new QPropertyAnimation(overlay, "geometry", group);
    slide->setStartValue(m_stack->rect());
    slide->setEndValue(m_stack->rect().translated(-transitionSlide, 0));
    for (QPropertyAnimation *animation : {fade, slide}) {
        animation->setDuration(transitionMs);
        animation->setEasingCurve(QEasingCurve::OutCubic);
        group->addAnimation(animation);
    }
    connect(group, &QAbstractAnimation::finished, overlay, &QObject::deleteLater);
    group->start();
}

void MainWindow::syncNavigation(Page page)
{
    const ThemePalette palette = ThemePalette::fromSettings();
    NavButton *target = navigationButton(page);
    for (NavButton *button : {m_connectionButton, m_accountButton, m_settingsButton}) {
        button->setColours(palette.mutedIcon, palette.navIconActive);
        button->setActive(button == target);
    }
    if (m_indicatorAnimation) {
        m_indicatorAnimation->stop();
        delete m_indicatorAnimation;
    }
    if (!target) {
        m_navIndicator->hide();
        return;
    }
    const QRect goal = target->geometry();
    const bool animate = m_navIndicator->isVisible() && m_navIndicator->geometry() != goal;
    m_navIndicator->show();
    m_navIndicator->lower();
    if (!animate) {
        m_navIndicator->setGeometry(goal);
        return;
    }
    auto *move = new QPropertyAnimation(m_navIndicator, "geometry", this);
    move->setDuration(indicatorMs);
    move->setEasingCurve(QEasingCurve::OutCubic);
    move->setStartValue(m_navIndicator->geometry());
    move->setEndValue(goal);
    m_indicatorAnimation = move;
    move->start(QAbstractAnimation::DeleteWhenStopped);
}
