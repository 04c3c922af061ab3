#include "platform/autostart.h"
#include "settings/settingskeys.h"
#include "support/pixelcheck.h"
#include "support/testhome.h"
#include "ui/pages/settingspage.h"
#include "ui/theme/themepalette.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/appearancecombo.h"
#include "ui/widgets/toggleswitch.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QOperatingSystemVersion>
#include <QSettings>
#include <QTest>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// The registration as the page sees it, counting every change asked for.
struct FakeSystem
{
    bool registered = false;
    bool works = true;
    int changes = 0;
    std::string program;

    SettingsPage::StartAtLogin seam()
    {
        const auto change = [this](bool on) {
            ++changes;
            registered = works ? on : registered;
            return works;
        };
        return {[this] { return registered; },
                [this, change](const std::string &path) {
                    program = path;
                    return change(true);
                },
                [change] { return change(false); }};
    }
};

QLabel *labelOf(ToggleSwitch *toggle)
{
    const QList<QLabel *> labels = toggle->parentWidget()->findChildren<QLabel *>();
    const auto found = std::find_if(labels.begin(), labels.end(),
                                    [toggle](QLabel *label) { return label->buddy() == toggle; });
    return found == labels.end() ? nullptr : *found;
}

// The colours left and right on the track's middle line.
std::pair<QColor, QColor> sides(ToggleSwitch *toggle)
{
    const QImage image = toggle->grab().toImage();
    const int middle = image.height() / 2;
    return {image.pixelColor(image.width() * 3 / 10, middle),
            image.pixelColor(image.width() * 7 / 10, middle)};
}

} // namespace

class TestSettingsPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { settings::clearAll(); }
    void storedValuesAndToggling();
    void keyboard();
    void startAtLogin_data();
    void startAtLogin();
    void startAtLoginThroughTheSystem();
    void switchColours();

private:
    TestHome m_home;
};

void TestSettingsPage::initTestCase()
{
    QVERIFY(m_home.isValid());
    QCoreApplication::setOrganizationName(u"SolvikVPNTests"_s);
    QCoreApplication::setApplicationName(u"SettingsPage"_s);
}

void TestSettingsPage::storedValuesAndToggling()
{
    settings::setConnectOnStart(true);
    // Left over from a registration the user has removed since.
    settings::setStartAtLogin(true);
    FakeSystem system;
    SettingsPage page(nullptr, system.seam());
    QVERIFY(page.connectOnStartSwitch()->isChecked());
    QVERIFY(page.notificationsSwitch()->isChecked());
    QVERIFY(page.reconnectSwitch()->isChecked());
    QVERIFY(!page.startAtLoginSwitch()->isChecked());
    QVERIFY(!settings::startAtLogin());
    QVERIFY(!QSettings().contains(settings::keys::showNotifications));
    QCOMPARE(system.changes, 0);

    QTest::mouseClick(page.connectOnStartSwitch(), Qt::LeftButton);
    // The row's text is part of its switch.
    QTest::mouseClick(labelOf(page.notificationsSwitch()), Qt::LeftButton);
    QTest::mouseClick(page.reconnectSwitch(), Qt::LeftButton);
    QVERIFY(!settings::connectOnStart() && !settings::reconnectAutomatically());
    QCOMPARE(QSettings().value(settings::keys::showNotifications), QVariant(false));
}

void TestSettingsPage::keyboard()
{
    FakeSystem system;
    SettingsPage page(nullptr, system.seam());
    page.show();
    page.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&page));
    page.themeChooser()->setFocus(Qt::MouseFocusReason);
    for (QWidget *next :
         QList<QWidget *>{page.accentChooser(), page.connectOnStartSwitch(), page.reconnectSwitch(),
                          page.blockSwitch(), page.localNetworkSwitch(), page.startAtLoginSwitch(),
                          page.notificationsSwitch()}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QTest::keyClick(page.startAtLoginSwitch(), Qt::Key_Space);
    QVERIFY(system.registered && page.startAtLoginSwitch()->isChecked());

    // A ring marks the switch the keyboard reached, not the one clicked.
    const auto ringShown = [ring = ThemePalette::fromSettings().strong](ToggleSwitch *toggle) {
        const QImage image = toggle->grab().toImage();
        return pixelcheck::near(image.pixelColor(1, image.height() / 2), ring, 40);
    };
    QVERIFY(ringShown(page.startAtLoginSwitch()));
    QTest::mouseClick(page.connectOnStartSwitch(), Qt::LeftButton);
    QCOMPARE(QApplication::focusWidget(), page.connectOnStartSwitch());
    QVERIFY(!ringShown(page.connectOnStartSwitch()));
}

void TestSettingsPage::startAtLogin_data()
{
    QTest::addColumn<bool>("registered");
    QTest::addColumn<bool>("works");
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("message");

    QTest::newRow("registered") << false << true << true << QString();
    QTest::newRow("removed") << true << true << true << QString();
    QTest::newRow("registration refused")
        << false << false << true << u"Could not register Solvik VPN to start when you sign in."_s;
    QTest::newRow("removal refused")
        << true << false << true
        << u"Could not remove Solvik VPN from the programs that start when you sign in."_s;
    QTest::newRow("system changes not allowed") << false << true << false << QString();
}

void TestSettingsPage::startAtLogin()
{
    QFETCH(bool, registered);
    QFETCH(bool, works);
    QFETCH(bool, allowed);
    QFETCH(QString, message);
    FakeSystem system;
    system.registered = registered;
    system.works = works;
    SettingsPage page(nullptr, system.seam());
    page.setSystemChangesAllowed(allowed);
    // An earlier failure's message goes once a change works.
    widgetfactory::setMessage(page.messageLabel(), u"earlier"_s);
    QTest::mouseClick(page.startAtLoginSwitch(), Qt::LeftButton);

    QCOMPARE(system.changes, allowed ? 1 : 0);
    QCOMPARE(settings::startAtLogin(), system.registered);
    if (allowed) {
        QCOMPARE(page.startAtLoginSwitch()->isChecked(), system.registered);
        QCOMPARE(page.messageLabel()->text(), message);
    }
    if (allowed && !registered) {
        QCOMPARE(QString::fromStdString(system.program),
                 QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
    }
}

void TestSettingsPage::startAtLoginThroughTheSystem()
{
    if (QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows) {
        QSKIP("The registration lives in the registry, which no test home keeps apart.");
    }
    const QString entry =
        qEnvironmentVariable("XDG_CONFIG_HOME") + u"/autostart/solvikvpn.desktop"_s;
    QVERIFY(entry.startsWith(m_home.path()));
    SettingsPage page;
    page.show();
    page.setSystemChangesAllowed(false);
    QTest::mouseClick(page.startAtLoginSwitch(), Qt::LeftButton);
    QVERIFY(!QFile::exists(entry));

    page.setSystemChangesAllowed(true);
    page.hide();
    page.show();
    QVERIFY(!page.startAtLoginSwitch()->isChecked());
    QTest::mouseClick(page.startAtLoginSwitch(), Qt::LeftButton);
    QCOMPARE(QString::fromStdString(platform::registeredStartAtLoginProgram().value_or("")),
             QCoreApplication::applicationFilePath());
    QTest::mouseClick(page.startAtLoginSwitch(), Qt::LeftButton);
    QVERIFY(!QFile::exists(entry));

    // A change made in the system's own settings shows when the page shows again.
    page.hide();
    QVERIFY(platform::registerStartAtLogin("/opt/solvikvpn/solvikvpn"));
    page.show();
    QVERIFY(page.startAtLoginSwitch()->isChecked());
    QVERIFY(settings::startAtLogin());
    QVERIFY(platform::unregisterStartAtLogin());
}

void TestSettingsPage::switchColours()
{
    FakeSystem system;
    SettingsPage page(nullptr, system.seam());
    for (const bool light : {false, true}) {
        const ThemePalette palette = ThemePalette::fromSettings();
        QCOMPARE(palette.light, light);
        // Off: the knob at the left on a muted track, dark or light as the page.
        const auto [offKnob, offTrack] = sides(page.connectOnStartSwitch());
        QVERIFY(pixelcheck::near(offKnob, palette.mutedIcon, 6));
        QVERIFY(!pixelcheck::near(offTrack, palette.accent, 60));
        QVERIFY(light ? offTrack.lightness() > 170 : offTrack.lightness() < 110);
        // On: the knob at the right on the accent.
        const auto [onTrack, onKnob] = sides(page.notificationsSwitch());
        QVERIFY(pixelcheck::near(onTrack, palette.accent, 6));
        QVERIFY(pixelcheck::near(onKnob, palette.onAccent, 6));
        // The page's own choosers recolour its switches.
        page.themeChooser()->setCurrentIndex(page.themeChooser()->findData(u"light"_s));
        page.accentChooser()->setCurrentIndex(page.accentChooser()->findData(u"#ff91ad"_s));
    }
}

QTEST_MAIN(TestSettingsPage)
#include "tst_settingspage.moc"
