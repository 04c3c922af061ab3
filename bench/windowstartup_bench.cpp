// How long the signed-out window takes to appear, and what it costs to keep, against a bare main
// window of the same size: from starting the process to its first painted frame, and the
// resident memory right after that frame. Each figure is read from outside the window's code: the
// parent times the child process until it reports the frame, the child reads its own resident
// size from the system. Offscreen, so the figures include painting but no window manager.
// Targets, for reading only: at most 1.5 times the time and the memory of the bare window.
#include "app/applicationfont.h"
#include "benchreport.h"
#include "platform/systemfonts.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rounds = 11;
// Long enough for what a window builds after its first frame.
constexpr int settleMs = 300;

double residentMegabytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').constFirst().toDouble() / 1024.0;
        }
    }
    return 0;
}

// Reports the first frame of `window` on standard output, and what the process holds once the
// window has settled, then quits.
class FirstFrame : public QObject
{
public:
    explicit FirstFrame(QWidget *window)
        : m_window(window)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (!m_seen && event->type() == QEvent::Expose &&
            object == static_cast<QObject *>(m_window->windowHandle())) {
            m_seen = true;
            // The window paints its frame while handling this event; the report is queued behind
            // it, ahead of anything the window queues meanwhile.
            QMetaObject::invokeMethod(
                qApp,
                [] {
                    std::printf("painted %.1f\n", residentMegabytes());
                    std::fflush(stdout);
                    QTimer::singleShot(settleMs, qApp, [] {
                        std::printf("settled %.1f\n", residentMegabytes());
                        QCoreApplication::quit();
                    });
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget *m_window;
    bool m_seen = false;
};

int runChild(int argc, char **argv, bool fullWindow)
{
    // As the client's own start does.
    if (fullWindow) {
        platform::readSystemFontsAhead();
    }
    QApplication application(argc, argv);
    std::unique_ptr<QMainWindow> window;
    if (fullWindow) {
        // A private identity: the benchmark never touches the user's settings or files.
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"SolvikVPNBench"_s);
        QCoreApplication::setApplicationName(u"WindowStartup"_s);
        applicationfont::install();
        window = std::make_unique<MainWindow>();
    } else {
        window = std::make_unique<QMainWindow>();
        window->resize(1180, 780);
    }
    FirstFrame frame(window.get());
    window->show();
    return application.exec();
}

struct Sample
{
    double ms = 0;
    double megabytes = 0;
    double settledMegabytes = 0;
};

// One start of the child in `mode`; nothing when it did not report.
std::optional<Sample> measure(const QString &program, const QString &mode)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    child.setProcessEnvironment(environment);
    QElapsedTimer timer;
    timer.start();
    child.start(program, {mode});
    if (!child.waitForReadyRead(30000)) {
        child.kill();
        child.waitForFinished();
        return std::nullopt;
    }
    const double ms = benchreport::elapsedMs(timer);
    child.waitForFinished(30000);
    const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
    if (lines.size() != 2 || !lines.at(0).startsWith("painted ") ||
        !lines.at(1).startsWith("settled ")) {
        return std::nullopt;
    }
    return Sample{ms, lines.at(0).mid(8).toDouble(), lines.at(1).mid(8).toDouble()};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Prints the spread of the times and the median resident size; returns the two medians.
Sample report(const char *label, const std::vector<Sample> &samples)
{
    std::vector<double> times;
    std::vector<double> memory;
    std::vector<double> settled;
    for (const Sample &sample : samples) {
        times.push_back(sample.ms);
        memory.push_back(sample.megabytes);
        settled.push_back(sample.settledMegabytes);
    }
    benchreport::printSpread(label, 22, times);
    const Sample medians{median(times), median(memory), median(settled)};
    std::printf("  %-22s resident %6.1f MB at the first frame, %6.1f MB %d ms later (medians)\n",
                "", medians.megabytes, medians.settledMegabytes, settleMs);
    return medians;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && (qstrcmp(argv[1], "--bare") == 0 || qstrcmp(argv[1], "--window") == 0)) {
        return runChild(argc, argv, qstrcmp(argv[1], "--window") == 0);
    }
    QCoreApplication application(argc, argv);
    const QString program = QCoreApplication::applicationFilePath();
    std::printf("Process start to first painted frame, %d runs each, offscreen:\n", rounds);
    // Alternated, so that a machine slowing down or speeding up weighs on both alike.
    std::vector<Sample> bare;
    std::vector<Sample> window;
    for (int round = 0; round < rounds; ++round) {
        if (const auto sample = measure(program, u"--bare"_s)) {
            bare.push_back(*sample);
        }
        if (const auto sample = measure(program, u"--window"_s)) {
            window.push_back(*sample);
        }
    }
    const Sample plain = report("bare QMainWindow", bare);
    const Sample client = report("signed-out window", window);
    if (plain.ms > 0 && plain.megabytes > 0) {
        std::printf("  ratio: %.2fx the time, %.2fx the memory at the first frame (targets at most "
                    "1.5x each)\n",
                    client.ms / plain.ms, client.megabytes / plain.megabytes);
    }
    return 0;
}
