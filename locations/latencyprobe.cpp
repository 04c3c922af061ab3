#include "locations/latencyprobe.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// Connected, failed and timed out may all arrive for one attempt; only the first counts.
constexpr char finishedProperty[] = "finishedProbe";

} // namespace

QString latencyToolTip(const QString &endpoint, const QString &tier, int latency)
{
    QString text = endpoint;
    if (!tier.isEmpty()) {
        text += u"\n%1 server"_s.arg(tier == u"free"_s ? u"Free"_s : u"Paid"_s);
    }
    text += u'\n';
    if (latency >= 1) {
        text += u"TCP latency: %1 ms · measured using the current network route"_s.arg(latency);
    } else if (latency == LatencyProbe::failed) {
        text +=
            u"Latency probe timed out or was refused; this does not verify VPN authentication"_s;
    } else {
        text += u"Measuring TCP latency…"_s;
    }
    return text;
}

LatencyProbe::LatencyProbe(QObject *parent)
    : QObject(parent)
{}

void LatencyProbe::start(const QList<api::ServerRecord> &servers)
{
    stop();
    m_sweep = new QObject(this);
    m_queue = servers;
    pumpProbes();
}

bool LatencyProbe::startIfIdle(const QList<api::ServerRecord> &servers)
{
    if (isSweeping()) {
        return false;
    }
    start(servers);
    return true;
}

void LatencyProbe::setLatency(const QString &id, int latency)
{
    m_latencies.insert(id, latency);
    emit latenciesChanged();
}

void LatencyProbe::stop()
{
    // Takes the sockets with it, so no result of this sweep arrives any more.
    delete m_sweep;
    m_queue.clear();
    m_running = 0;
    m_latencies.clear();
}

void LatencyProbe::pumpProbes()
{
    if (!m_sweep) {
        return;
    }
    while (m_running < maxRunning && !m_queue.isEmpty()) {
        const api::ServerRecord server = m_queue.takeFirst();
        const QString id = server.id;
        const QUrl url(u"tcp://"_s + server.endpoint);
        const int port = url.port(-1);
        if (url.host().isEmpty() || port < 1) {
            m_latencies.insert(id, failed);
            continue;
        }
        ++m_running;
        auto *socket = new QTcpSocket(m_sweep);
        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        QElapsedTimer clock;
        clock.start();
        connect(socket, &QTcpSocket::connected, this, [this, socket, id, clock] {
            finishProbe(socket, id, int(std::max<qint64>(clock.elapsed(), 1)));
        });
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this, socket, id] { finishProbe(socket, id, failed); });
        connect(timer, &QTimer::timeout, this,
                [this, socket, id] { finishProbe(socket, id, failed); });
        timer->start(m_attemptLimitMs);
        socket->connectToHost(url.host(), quint16(port));
    }
    emit latenciesChanged();
}

void LatencyProbe::finishProbe(QTcpSocket *socket, const QString &id, int latency)
{
    if (socket->property(finishedProperty).toBool()) {
        return;
    }
    socket->setProperty(finishedProperty, true);
    m_latencies.insert(id, latency);
    --m_running;
    socket->abort();
    socket->deleteLater();
    // Runs after the socket's notification has returned, so listeners may end the sweep.
    QTimer::singleShot(0, this, &LatencyProbe::pumpProbes);
}
