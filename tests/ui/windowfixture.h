#pragma once

#include "support/faketunneladapter.h"
#include "tools/devbackend/devbackend.h"
#include "ui/mainwindow.h"

#include <QString>

#include <memory>

class QPushButton;
class QWidget;

// The real window, shown offscreen, signed out, against an in-process development backend and a
// scripted tunnel adapter that completes every start and stop. Settings and the stored session
// start empty; nothing is looked up or measured outside this machine. Needs a TestHome.
class WindowFixture
{
public:
    explicit WindowFixture(const DevBackendOptions &options = {});
    ~WindowFixture();

    bool isValid() const { return m_valid; }
    // Types the demo account and presses Enter; true once the connection page shows.
    bool signIn();
    // The push button under `parent` whose text is `text`; null when none.
    static QPushButton *button(QWidget *parent, const QString &text);

    DevBackend backend;
    FakeTunnelAdapter *adapter = nullptr;
    std::unique_ptr<MainWindow> window;

private:
    bool m_valid = false;
};
