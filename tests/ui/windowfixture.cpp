#include "windowfixture.h"

#include "common/protectedstore.h"
#include "settings/settingskeys.h"
#include "ui/pages/signinpage.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

WindowFixture::WindowFixture(const DevBackendOptions &options)
    : backend(options)
{
    // An earlier case's stored session belongs to another backend.
    settings::clearAll();
    if (!protectedstore::removeProtected(u"session"_s) || !backend.listen()) {
        return;
    }
    settings::setApiUrl(backend.baseUrl().toString());
    settings::setProduction(false);
    auto scripted = std::make_unique<FakeTunnelAdapter>();
    adapter = scripted.get();
    adapter->completion = FakeTunnelAdapter::Completion::Succeed;
    window = std::make_unique<MainWindow>(std::move(scripted), ClientServices::Lookups::Disabled);
    window->show();
    m_valid = QTest::qWaitForWindowExposed(window.get());
}

WindowFixture::~WindowFixture() = default;

bool WindowFixture::signIn()
{
    SignInPage *page = window->signInPage();
    page->emailEdit()->clear();
    page->passwordEdit()->clear();
    QTest::keyClicks(page->emailEdit(), backend.options().demoEmail);
    QTest::keyClicks(page->passwordEdit(), backend.options().demoPassword);
    QTest::keyClick(page->passwordEdit(), Qt::Key_Return);
    return QTest::qWaitFor(
        [this] { return window->pages()->currentIndex() == int(MainWindow::Connection); }, 10000);
}

QPushButton *WindowFixture::button(QWidget *parent, const QString &text)
{
    const QList<QPushButton *> buttons = parent->findChildren<QPushButton *>();
    for (QPushButton *candidate : buttons) {
        if (candidate->text() == text) {
            return candidate;
        }
    }
    return nullptr;
}
