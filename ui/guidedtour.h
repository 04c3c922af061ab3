#pragma once

#include "ui/windowview.h"

#include <QObject>
#include <QPointer>

#include <functional>

class GuidedTourOverlay;
class Session;

// The guided tour of the main window: the quick guide on the sign-in page, one step before
// sign-in that points at the form, then seven steps over the signed-in pages, one control each.
// Finishing, skipping or dismissing the quick guide is remembered in "guidedTourSeen". The tour
// follows the session on its own: it starts once the user signs in when it is pending, and never
// outlives a sign-out.
class GuidedTour : public QObject
{
    Q_OBJECT

public:
    struct Delays
    {
        // Lets the page transition finish before the bubble points into the new page.
        int pageSwitchMs = 410;
        // Lets the connection page settle after sign-in.
        int signInMs = 450;
    };

    GuidedTour(WindowView &window, Session &session, QObject *parent = nullptr);

    void setDelays(const Delays &delays) { m_delays = delays; }
    static int stepCount();

    bool tourPending() const { return m_tourPending; }
    int tourStep() const { return m_tourStep; }
    // The overlay now shown or waiting for a page switch; null when none.
    GuidedTourOverlay *overlay() const;

    // At a first start: marks the tour as wanted; while signed out the quick guide offers it,
    // while signed in it starts at once. Nothing once the tour was finished or dismissed.
    void maybeOfferTour();
    // Starts the tour afresh: the step before sign-in while signed out, else the first step.
    void showWelcomeGuide();
    // Shows step `tourStep`, switching to its page first.
    void displayGuidedTourStep();
    // Goes straight to step `step` (from 0) of a signed-in tour.
    void startAt(int step);
    void finishTour();

private:
    void sessionChanged(bool authenticated);
    void removeOverlay();
    // Runs `action` after `milliseconds` unless the tour restarted, finished or the session
    // changed meanwhile.
    void later(int milliseconds, std::function<void()> action);

    WindowView &m_window;
    Session &m_session;
    Delays m_delays;
    bool m_tourPending = false;
    int m_tourStep = 0;
    QPointer<GuidedTourOverlay> m_overlay;
    bool m_signedIn = false;
    int m_generation = 0;
};
