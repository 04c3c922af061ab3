#pragma once

#include <QString>

class QWidget;
struct PreviewAccount;
struct ServerLocation;

// What the guided tour and the website captures see of the window: its pages, the controls they
// point at or picture, and the sample account the captures show. The window implements it; none
// of them needs to know how the pages are built.
class WindowView
{
public:
    // The pages, in the order of the window's stack.
    enum Page
    {
        SignIn = 0,
        Connection = 1,
        Account = 2,
        Settings = 3
    };

    enum class Landmark
    {
        SignInForm,
        EmailField,
        QuickGuideCard,
        LocationTree,
        QuickConnectButton,
        ConnectButton,
        AccountTab,
        SettingsTab,
        LocationSidebar,
        TrafficChart,
        WorldMap,
        ConnectionCard,
        SubscriptionCard,
        DevicesCard,
        ThemeChooser,
        AppearanceCard
    };

    // The window itself: what an overlay covers and a picture shows.
    virtual QWidget &surface() = 0;
    virtual Page currentPage() const = 0;
    // Switches the stack; the old page's picture fades and slides away over the new one.
    virtual void showPage(Page page) = 0;
    virtual QWidget *landmark(Landmark landmark) = 0;

    // Signs the sample account in and shows it instead of a backend session: its servers with one
    // selected, its plan and devices. Nothing is asked of the backend afterwards either.
    virtual void showSampleAccount(const PreviewAccount &account) = 0;
    // Shows the sample account connected to `serverId` for `elapsed`, seen from `ownLocation`.
    virtual void showSampleConnection(const QString &serverId, const QString &elapsed,
                                      const ServerLocation &ownLocation) = 0;

protected:
    ~WindowView() = default;
};
