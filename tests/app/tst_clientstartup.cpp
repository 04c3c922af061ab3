#include "app/applicationidentity.h"
#include "app/clientstartup.h"
#include "common/protectedstore.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// The client's main window among the top-level widgets, if one exists.
MainWindow *openMainWindow()
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        if (auto *window = qobject_cast<MainWindow *>(widget)) {
            return window;
        }
    }
    return nullptr;
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The whole start-up of a normal run, in this process, on the offscreen platform.
class TestClientStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void normalRunMigratesThenShowsTheWindow();
    void migrationLockStopsStartUpBeforeTheWindow();

private:
    std::unique_ptr<TestHome> m_home;
};

void TestClientStartup::init()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    // The paths below are the normal run's, as start-up will see them.
    identity::apply(RunKind::Normal);
}

void TestClientStartup::normalRunMigratesThenShowsTheWindow()
{
    {
        QSettings earlier(u"Zelvane"_s, u"Zelvane"_s);
        earlier.setValue(u"accent"_s, u"#f5a97f"_s);
    }

    QString title;
    QSize size;
    bool visible = false;
    QTimer::singleShot(500, qApp, [&] {
        if (MainWindow *window = openMainWindow()) {
            title = window->windowTitle();
            size = window->size();
            visible = window->isVisible();
        }
        QCoreApplication::quit();
    });

    QCOMPARE(clientstartup::run(*qApp, {u"solvikvpn"_s}), 0);

    QCOMPARE(title, u"Solvik VPN"_s);
    QCOMPARE(size, QSize(1180, 780));
    QVERIFY(visible);
    QCOMPARE(fileContent(protectedstore::dataDirectory() + u"/legacy-storage-migrated"_s),
             QByteArray("1"));
    QVERIFY(settings::legacySettingsMigrated());
    QCOMPARE(settings::accent(), u"#f5a97f"_s);
    QCOMPARE(QLocale().name(), u"en_US"_s);
    QVERIFY(!openMainWindow());
}

void TestClientStartup::migrationLockStopsStartUpBeforeTheWindow()
{
    const QString data = protectedstore::dataDirectory();
    {
        // Even a finished migration waits for the lock first.
        QFile marker(data + u"/legacy-storage-migrated"_s);
        QVERIFY(marker.open(QIODevice::WriteOnly));
        QCOMPARE(marker.write("1"), 1);
    }
    QProcess holder;
    holder.start(QCoreApplication::applicationDirPath() + u"/solvikvpn-lockholder"_s,
                 {data + u"/brand-migration.lock"_s});
    QVERIFY2(holder.waitForStarted(), qPrintable(holder.errorString()));
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("locked"));

    // Answers the message box the way a user would, noting what it said and what else was open.
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    bool windowWhileAsking = false;
    QTimer watcher;
    watcher.setInterval(50);
    connect(&watcher, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            return;
        }
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        windowWhileAsking = openMainWindow() != nullptr;
        box->done(QMessageBox::Ok);
    });
    watcher.start();

    QElapsedTimer elapsed;
    elapsed.start();
    const int exitCode = clientstartup::run(*qApp, {u"solvikvpn"_s});
    const qint64 waited = elapsed.elapsed();
    watcher.stop();

    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));

    QCOMPARE(exitCode, 1);
    QCOMPARE(title, u"Solvik VPN"_s);
    QCOMPARE(text, u"Close other Solvik VPN windows and retry the update."_s);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!windowWhileAsking);
    QVERIFY2(waited >= 4900, qPrintable(u"gave up after %1 ms"_s.arg(waited)));
    // Stopped before the settings migration too.
    QVERIFY(!settings::legacySettingsMigrated());
}

QTEST_MAIN(TestClientStartup)
#include "tst_clientstartup.moc"
