#include "devbackend.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <array>

using namespace Qt::StringLiterals;

namespace {

struct RouteContext
{
    const HttpRequest &request;
    const QJsonObject &body;
    const DevCaller &caller;
    QString id; // the path segment matched by "*"
};

using RouteHandler = DevReply (*)(DevBackendState &, const RouteContext &);

struct RouteEntry
{
    QStringView method;
    QStringView pattern;
    bool authenticated;
    RouteHandler handler;
};

const std::array<RouteEntry, 20> routes{{
    // The tunnel program's connectivity check, pointed here by the run command.
    {u"GET", u"/generate_204", false,
     [](DevBackendState &, const RouteContext &) {
         return DevReply{204, {}};
     }},
    {u"POST", u"/auth/login", false,
     [](DevBackendState &s, const RouteContext &c) { return s.login(c.body); }},
    {u"POST", u"/auth/register", false,
     [](DevBackendState &s, const RouteContext &c) { return s.registerAccount(c.body); }},
    {u"POST", u"/auth/verify-email", false,
     [](DevBackendState &s, const RouteContext &c) { return s.verifyEmail(c.body); }},
    {u"POST", u"/auth/resend-verification", false,
     [](DevBackendState &s, const RouteContext &c) { return s.resendVerification(c.body); }},
    {u"POST", u"/auth/forgot-password", false,
     [](DevBackendState &s, const RouteContext &c) { return s.forgotPassword(c.body); }},
    {u"POST", u"/auth/reset-password", false,
     [](DevBackendState &s, const RouteContext &c) { return s.resetPassword(c.body); }},
    {u"POST", u"/auth/refresh", false,
     [](DevBackendState &s, const RouteContext &c) { return s.refresh(c.body); }},
    {u"POST", u"/auth/logout", true,
     [](DevBackendState &s, const RouteContext &c) { return s.logout(c.caller); }},
    {u"POST", u"/auth/web-ticket", true,
     [](DevBackendState &s, const RouteContext &c) { return s.webTicket(c.caller); }},
    {u"GET", u"/me", true,
     [](DevBackendState &s, const RouteContext &c) { return s.me(c.caller); }},
    {u"GET", u"/access/me", true,
     [](DevBackendState &s, const RouteContext &c) { return s.access(c.caller); }},
    {u"GET", u"/plans", true,
     [](DevBackendState &s, const RouteContext &c) { return s.plans(c.request.query()); }},
    {u"GET", u"/servers", true,
     [](DevBackendState &s, const RouteContext &c) { return s.servers(c.request.query()); }},
    {u"GET", u"/devices", true,
     [](DevBackendState &s, const RouteContext &c) {
         return s.devices(c.caller, c.request.query());
     }},
    {u"DELETE", u"/devices/*", true,
     [](DevBackendState &s, const RouteContext &c) { return s.deleteDevice(c.caller, c.id); }},
    {u"GET", u"/vpn-profiles", true,
     [](DevBackendState &s, const RouteContext &c) {
         return s.profiles(c.caller, c.request.query());
     }},
    {u"POST", u"/vpn-profiles", true,
     [](DevBackendState &s, const RouteContext &c) { return s.createProfile(c.caller, c.body); }},
    {u"GET", u"/vpn-profiles/*", true,
     [](DevBackendState &s, const RouteContext &c) { return s.profile(c.caller, c.id); }},
    {u"DELETE", u"/vpn-profiles/*", true,
     [](DevBackendState &s, const RouteContext &c) { return s.deleteProfile(c.caller, c.id); }},
}};

// Matches "/vpn-profiles/*" against "/vpn-profiles/abc" (one non-empty segment) and stores "abc".
bool pathMatches(QStringView pattern, QStringView path, QString *id)
{
    if (!pattern.endsWith(u"/*"))
        return pattern == path;
    const QStringView prefix = pattern.chopped(1);
    if (!path.startsWith(prefix) || path.size() == prefix.size())
        return false;
    const QStringView rest = path.mid(prefix.size());
    if (rest.contains(u'/'))
        return false;
    if (id)
        *id = rest.toString();
    return true;
}

// "POST /vpn-profiles" or "GET /vpn-profiles/*" against a request's route.
bool routeMatches(const QString &pattern, const QString &route)
{
    const qsizetype space = pattern.indexOf(u' ');
    if (space < 0 || !route.startsWith(QStringView(pattern).left(space + 1)))
        return false;
    return pathMatches(QStringView(pattern).mid(space + 1), QStringView(route).mid(space + 1),
                       nullptr);
}

QJsonArray asArray(const QJsonValue &body)
{
    QJsonObject object = body.toObject();
    if (object.value(u"data").isObject())
        object = object.value(u"data").toObject();
    if (object.value(u"items").isArray())
        return object.value(u"items").toArray();
    return QJsonArray{object};
}

void sendReply(const HttpResponderPtr &responder, const DevReply &reply)
{
    // A 204 has no body: bytes after its head would be read as the next reply on the connection.
    if (reply.status == 204)
        responder->send(204, {}, {});
    else if (reply.body.isArray())
        responder->sendJson(reply.status, reply.body.toArray());
    else
        responder->sendJson(reply.status, reply.body.toObject());
}

} // namespace

DevBackend::DevBackend(const DevBackendOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_server(new HttpServer(this))
    , m_state(std::make_unique<DevBackendState>(options))
{
    m_state->onVerificationToken = [this](const QString &email, const QString &token) {
        emit verificationTokenIssued(email, token);
    };
    m_state->onResetToken = [this](const QString &email, const QString &token) {
        emit resetTokenIssued(email, token);
    };
    m_server->setHandler([this](const HttpRequest &request, const HttpResponderPtr &responder) {
        handle(request, responder);
    });
}

DevBackend::~DevBackend() = default;

bool DevBackend::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 DevBackend::port() const
{
    return m_server->port();
}

QUrl DevBackend::baseUrl() const
{
    QUrl url;
    url.setScheme(u"http"_s);
    url.setHost(u"127.0.0.1"_s);
    url.setPort(port());
    return url;
}

QString DevBackend::errorString() const
{
    return m_server->errorString();
}

void DevBackend::setFault(const QString &route, const DevBackendFault &fault)
{
    for (auto &entry : m_faults) {
        if (entry.first == route) {
            entry.second = fault;
            return;
        }
    }
    m_faults.append({route, fault});
}

void DevBackend::clearFaults()
{
    m_faults.clear();
}

std::optional<DevBackendFault> DevBackend::takeFault(const QString &route)
{
    for (auto &entry : m_faults) {
        if (!routeMatches(entry.first, route) || entry.second.count == 0)
            continue;
        if (entry.second.skip > 0) {
            --entry.second.skip;
            return std::nullopt;
        }
        if (entry.second.count > 0)
            --entry.second.count;
        return entry.second;
    }
    return std::nullopt;
}

QList<HttpRequest> DevBackend::requests(const QString &route) const
{
    QList<HttpRequest> matching = m_server->requests();
    matching.removeIf(
        [&route](const HttpRequest &request) { return !routeMatches(route, request.route()); });
    return matching;
}

int DevBackend::requestCount(const QString &route) const
{
    return int(requests(route).size());
}

void DevBackend::handle(const HttpRequest &request, const HttpResponderPtr &responder)
{
    const std::optional<DevBackendFault> fault = takeFault(request.route());
    if (!fault) {
        sendReply(responder, dispatch(request));
        return;
    }
    if (fault->afterHandling) {
        sendFaulted(*fault, dispatch(request), responder);
        return;
    }
    if (fault->kind == DevBackendFault::Kind::Delay) {
        // The request takes effect only when the delay is over, as on a slow backend.
        QTimer::singleShot(fault->delayMs, this, [this, request, responder] {
            if (responder->isConnected())
                sendReply(responder, dispatch(request));
            else
                responder->drop();
        });
        return;
    }
    sendFaulted(*fault, {}, responder);
}

void DevBackend::sendFaulted(const DevBackendFault &fault, const DevReply &reply,
                             const HttpResponderPtr &responder)
{
    switch (fault.kind) {
    case DevBackendFault::Kind::Delay:
        QTimer::singleShot(fault.delayMs, this,
                           [responder, reply] { sendReply(responder, reply); });
        return;
    case DevBackendFault::Kind::Drop:
        responder->drop();
        return;
    case DevBackendFault::Kind::Status:
        responder->send(fault.status, fault.body);
        return;
    case DevBackendFault::Kind::NonJson:
        responder->send(200, "<!DOCTYPE html><html><body><h1>502 Bad Gateway</h1></body></html>",
                        "text/html");
        return;
    case DevBackendFault::Kind::ArrayBody:
        if (reply.status >= 200 && reply.status < 300)
            responder->sendJson(reply.status, asArray(reply.body));
        else
            sendReply(responder, reply);
        return;
    }
}

DevReply DevBackend::dispatch(const HttpRequest &request)
{
    const QString path = request.path();
    if (path.startsWith(u"/__dev/"))
        return handleDevRoute(request);

    const QString method = QString::fromLatin1(request.method);
    const RouteEntry *matched = nullptr;
    bool pathKnown = false;
    QString id;
    for (const RouteEntry &entry : routes) {
        if (!pathMatches(entry.pattern, path, &id))
            continue;
        pathKnown = true;
        if (entry.method == method) {
            matched = &entry;
            break;
        }
    }
    if (!matched) {
        return pathKnown ? DevBackendState::error(405, u"METHOD_NOT_ALLOWED"_s,
                                                  u"This method is not allowed here."_s)
                         : DevBackendState::error(404, u"NOT_FOUND"_s, u"No such route."_s);
    }

    QJsonObject body;
    if (!request.body.trimmed().isEmpty()) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
        if (parseError.error != QJsonParseError::NoError || !document.isObject())
            return DevBackendState::error(400, u"INVALID_BODY"_s,
                                          u"The request body must be a JSON object."_s);
        body = document.object();
    }
    DevCaller caller;
    if (matched->authenticated) {
        DevReply refusal;
        const std::optional<DevCaller> found =
            m_state->authenticate(request.header("Authorization"), &refusal);
        if (!found)
            return refusal;
        caller = *found;
    }
    return matched->handler(*m_state, RouteContext{request, body, caller, id});
}
