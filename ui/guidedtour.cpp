#include "ui/guidedtour.h"

#include "api/session.h"
#include "settings/settingskeys.h"
#include "ui/theme/themepalette.h"
#include "ui/widgets/guidedtouroverlay.h"

#include <QStringView>
#include <QTimer>
#include <QWidget>

#include <iterator>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TourStep
{
    WindowView::Page page;
    WindowView::Landmark target;
    QStringView title;
    QStringView description;
};

constexpr TourStep steps[] = {
    {WindowView::Connection, WindowView::Landmark::LocationTree, u"Choose a location",
     u"Browse countries and servers here. Expand a country to see its servers, or search by "
     u"location."},
    {WindowView::Connection, WindowView::Landmark::QuickConnectButton, u"Quick connect",
     u"Use this button to let Solvik VPN choose a server for you automatically."},
    {WindowView::Connection, WindowView::Landmark::ConnectButton, u"Connect",
     u"When you are ready, press Connect. This panel shows the selected destination and "
     u"connection status."},
    {WindowView::Connection, WindowView::Landmark::AccountTab, u"Your account",
     u"Open your profile here to check your subscription and how much time it has left."},
    {WindowView::Account, WindowView::Landmark::SubscriptionCard, u"Subscription details",
     u"Your plan status, time remaining, and expiry date are grouped in this card."},
    {WindowView::Account, WindowView::Landmark::SettingsTab, u"App settings",
     u"Open Settings with this button to change appearance and connection preferences."},
    {WindowView::Settings, WindowView::Landmark::ThemeChooser, u"Make it yours",
     u"Choose dark or light mode and set an accent color. Closing the window keeps Solvik VPN in "
     u"the system tray."},
};

} // namespace

GuidedTour::GuidedTour(WindowView &window, Session &session, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_session(session)
    , m_signedIn(session.authenticated())
{
    connect(&session, &Session::changed, this, &GuidedTour::sessionChanged);
}

int GuidedTour::stepCount()
{
    return int(std::size(steps));
}

GuidedTourOverlay *GuidedTour::overlay() const
{
    return m_overlay;
}

void GuidedTour::maybeOfferTour()
{
    if (settings::guidedTourSeen()) {
        return;
    }
    m_tourPending = true;
    if (m_session.authenticated()) {
        showWelcomeGuide();
    } else {
        m_window.landmark(WindowView::Landmark::QuickGuideCard)->show();
    }
}

void GuidedTour::showWelcomeGuide()
{
    ++m_generation;
    removeOverlay();
    m_window.landmark(WindowView::Landmark::QuickGuideCard)->hide();
    if (m_session.authenticated()) {
        startAt(0);
        return;
    }
    m_tourPending = true;
    const ThemePalette palette = ThemePalette::fromSettings();
    m_overlay = new GuidedTourOverlay(&m_window.surface());
    m_overlay->setStep(
        m_window.landmark(WindowView::Landmark::SignInForm), u"Sign in to begin"_s,
        u"Use your Solvik VPN email and password here. After sign-in, the tour will point out "
        u"locations, connection, account, and settings."_s,
        u"Before the tour"_s, u"Continue to sign in"_s,
        [this] {
            removeOverlay();
            m_window.landmark(WindowView::Landmark::EmailField)->setFocus();
        },
        [this] { finishTour(); }, palette.accent, palette.light);
}

void GuidedTour::displayGuidedTourStep()
{
    // The steps point into the signed-in pages, which nobody may see while signed out.
    if (!m_session.authenticated()) {
        removeOverlay();
        return;
    }
    if (m_tourStep >= stepCount()) {
        finishTour();
        return;
    }
    const TourStep &step = steps[m_tourStep];
    if (m_window.currentPage() != step.page) {
        if (m_overlay) {
            m_overlay->hide();
        }
        m_window.showPage(step.page);
        later(m_delays.pageSwitchMs, [this] { displayGuidedTourStep(); });
        return;
    }
    QWidget *target = m_window.landmark(step.target);
    if (target == nullptr || !target->isVisible()) {
        finishTour();
        return;
    }
    if (!m_overlay) {
        m_overlay = new GuidedTourOverlay(&m_window.surface());
    }
    const ThemePalette palette = ThemePalette::fromSettings();
    const bool last = m_tourStep == stepCount() - 1;
    m_overlay->setStep(
        target, step.title.toString(), step.description.toString(),
        u"%1 of %2"_s.arg(m_tourStep + 1).arg(stepCount()), last ? u"Finish"_s : u"Next"_s,
        [this] {
            ++m_tourStep;
            displayGuidedTourStep();
        },
        [this] { finishTour(); }, palette.accent, palette.light);
}

void GuidedTour::startAt(int step)
{
    ++m_generation;
    removeOverlay();
    m_window.landmark(WindowView::Landmark::QuickGuideCard)->hide();
    m_tourPending = false;
    m_tourStep = step;
    displayGuidedTourStep();
}

void GuidedTour::finishTour()
{
    ++m_generation;
    m_tourPending = false;
    settings::setGuidedTourSeen(true);
    m_window.landmark(WindowView::Landmark::QuickGuideCard)->hide();
    removeOverlay();
}

void GuidedTour::sessionChanged(bool authenticated)
{
    // Token renewals repeat the notice; only a real sign-in or sign-out counts.
    if (authenticated == m_signedIn) {
        return;
    }
    m_signedIn = authenticated;
    ++m_generation;
    if (!authenticated) {
        removeOverlay();
        return;
    }
    if (m_tourPending) {
        later(m_delays.signInMs, [this] {
            if (m_tourPending && m_session.authenticated()) {
                showWelcomeGuide();
            }
        });
    }
}

void GuidedTour::removeOverlay()
{
    if (m_overlay) {
        m_overlay->hide();
        m_overlay->deleteLater();
        m_overlay = nullptr;
    }
}

void GuidedTour::later(int milliseconds, std::function<void()> action)
{
    QTimer::singleShot(milliseconds, this,
                       [this, generation = m_generation, action = std::move(action)] {
                           if (generation == m_generation) {
                               action();
                           }
                       });
}
