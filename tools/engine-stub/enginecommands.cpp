#include "enginecommands.h"

#include "breaksignal.h"
#include "common/secretwipe.h"
#include "engineconfig.h"
#include "mixedproxy.h"
#include "tunadapter.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <memory>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace enginecommands {
namespace {

constexpr qint64 floodChunk = 64 * 1024;

void flood(const StubModes &modes, EngineLog &log)
{
    for (qint64 at = 0; at < modes.floodBytes; at += floodChunk)
        log.writeRaw(floodPattern(at, qMin(floodChunk, modes.floodBytes - at)));
}

// Shared by both commands: decode, apply the log settings, honour an injected diagnostic.
// Returns the exit code when the command ends here, or -1 to go on.
int prepare(QByteArray &configuration, const QString &source, const QString &command,
            const StubModes &modes, EngineLog &log, engineconfig::Document *document)
{
    QString error;
    const bool decoded = engineconfig::decode(configuration, source, document, &error);
    secretwipe::wipe(configuration);
    if (!decoded) {
        log.write(EngineLog::Level::Fatal, error);
        return 1;
    }
    log.setThreshold(document->logLevel);
    log.setDisabled(document->logDisabled);
    const QString diagnostic = modes.diagnosticFor(command);
    if (!diagnostic.isEmpty()) {
        log.write(EngineLog::Level::Fatal, diagnostic);
        flood(modes, log);
        return 1;
    }
    return -1;
}

// Appends one line to the run log, if there is one.
void appendRunLog(const StubModes &modes, const QByteArray &line)
{
    QFile file(modes.runLog);
    if (!modes.runLog.isEmpty() && file.open(QIODevice::Append))
        file.write(line + '\n');
}

// The runs logged before this one.
int loggedRuns(const StubModes &modes)
{
    QFile file(modes.runLog);
    if (modes.runLog.isEmpty() || !file.open(QIODevice::ReadOnly))
        return 0;
    int runs = 0;
    while (!file.atEnd())
        runs += file.readLine().startsWith("run ") ? 1 : 0;
    return runs;
}

#ifndef _WIN32
// A process of the engine's that leaves its group, as a badly behaved plugin or helper might:
// killing the group misses it, and it keeps the output pipe open until it ends.
void escapeProcessGroup(int seconds)
{
    // Returns once the process has left the group, so a stop cannot catch it on its way out.
    int left[2];
    if (::pipe(left) != 0)
        return;
    if (::fork() == 0) {
        ::setsid();
        ::close(left[0]);
        ::close(left[1]);
        ::sleep(static_cast<unsigned>(seconds));
        ::_exit(0);
    }
    ::close(left[1]);
    char end;
    (void)!::read(left[0], &end, 1);
    ::close(left[0]);
}
#endif

} // namespace

QByteArray floodPattern(qint64 from, qint64 count)
{
    QByteArray bytes;
    bytes.reserve(count + 16);
    qint64 line = from - from % 16;
    while (line < from + count) {
        bytes += QByteArray::number(line).rightJustified(15, '0') + '\n';
        line += 16;
    }
    return bytes.mid(from % 16, count);
}

int check(QByteArray &configuration, const QString &source, const StubModes &modes, EngineLog &log)
{
    engineconfig::Document document;
    const int ended = prepare(configuration, source, u"check"_s, modes, log, &document);
    if (ended >= 0)
        return ended;
    flood(modes, log);
    return 0;
}

int run(QByteArray &configuration, const QString &source, const StubModes &modes, EngineLog &log)
{
    engineconfig::Document document;
    const int ended = prepare(configuration, source, u"run"_s, modes, log, &document);
    if (ended >= 0)
        return ended;
    const int runsBefore = loggedRuns(modes);
    appendRunLog(modes, "run " + QByteArray::number(QCoreApplication::applicationPid()));
    if (modes.goodRuns && runsBefore >= *modes.goodRuns) {
        log.write(EngineLog::Level::Fatal, u"start service: the stub's good runs are used up"_s);
        return 1;
    }
    BreakSignal breakSignal(modes.ignoreBreak);
    QObject::connect(&breakSignal, &BreakSignal::received, QCoreApplication::instance(),
                     [] { QCoreApplication::exit(0); });
    TunAdapter tun;
    QString error;
    if (!document.tunInterface.isEmpty() &&
        (modes.noTun || !tun.open(document.tunInterface, document.tunMtu, &error))) {
        log.write(EngineLog::Level::Warn, u"inbound/tun["_s + document.tunTag +
                                              u"]: running without the "_s + document.tunInterface +
                                              u" adapter"_s +
                                              (error.isEmpty() ? QString() : u": "_s + error));
    }
    std::vector<std::unique_ptr<MixedProxy>> proxies;
    for (const engineconfig::MixedInbound &inbound : document.mixedInbounds) {
        if (modes.noPort)
            break;
        proxies.push_back(std::make_unique<MixedProxy>(inbound, &log));
        if (!proxies.back()->listen(&error)) {
            log.write(EngineLog::Level::Fatal, u"start service: "_s + error);
            return 1;
        }
        QObject::connect(proxies.back().get(), &MixedProxy::accepted, proxies.back().get(),
                         [&modes] { appendRunLog(modes, "accept"); });
    }
    if (modes.portSeconds > 0)
        QTimer::singleShot(modes.portSeconds * 1000, [&proxies] { proxies.clear(); });
    for (engineconfig::MixedInbound &inbound : document.mixedInbounds) {
        for (engineconfig::ProxyUser &user : inbound.users)
            secretwipe::wipe(user.password);
    }
    log.write(EngineLog::Level::Info, u"sing-box started"_s);
    flood(modes, log);
#ifndef _WIN32
    // Windows has no way out of the engine's kill-on-close job to stand in for.
    if (modes.escapeSeconds > 0)
        escapeProcessGroup(modes.escapeSeconds);
#endif
    return QCoreApplication::exec();
}

} // namespace enginecommands
