#include "devbackendstate.h"

#include "seeddata.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The whole text must match: "$" would also accept a trailing line feed.
QRegularExpression wholeText(const QString &pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

const QRegularExpression &emailPattern()
{
    static const QRegularExpression pattern = wholeText(u"[^@\\s]+@[^@\\s]+\\.[^@\\s]+"_s);
    return pattern;
}

bool validInstallationId(const QString &text)
{
    static const QRegularExpression pattern = wholeText(
        u"[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-4[0-9a-fA-F]{3}-[89abAB][0-9a-fA-F]{3}-[0-9a-fA-F]{12}"_s);
    return pattern.match(text).hasMatch();
}

bool validDeviceToken(const QString &text)
{
    static const QRegularExpression pattern = wholeText(u"[A-Za-z0-9_-]{43}"_s);
    return pattern.match(text).hasMatch();
}

QByteArray passwordDigest(const QByteArray &salt, const QString &password)
{
    return DevSeed::sha256(salt + password.toUtf8());
}

QString isoTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

DevReply invalid(const QString &message)
{
    return DevBackendState::error(400, u"VALIDATION_ERROR"_s, message);
}

} // namespace

DevBackendState::DevBackendState(const DevBackendOptions &options)
    : m_options(options)
    , m_servers(DevSeed::servers(options.servers, options.countries, options.unusableServers))
{
    if (!options.demoEmail.isEmpty())
        addAccount(options.demoEmail, options.demoPassword, options.demoVerified, options.demoTier);
}

DevReply DevBackendState::error(int status, const QString &code, const QString &message)
{
    return {status,
            QJsonObject{{u"error"_s, QJsonObject{{u"code"_s, code}, {u"message"_s, message}}}}};
}

DevReply DevBackendState::object(int status, const QJsonObject &body) const
{
    return {status, m_options.wrapInData ? QJsonObject{{u"data"_s, body}} : body};
}

DevReply DevBackendState::page(const QJsonArray &all, const QUrlQuery &query) const
{
    bool pageOk = true;
    bool limitOk = true;
    const int pageNumber =
        query.hasQueryItem(u"page"_s) ? query.queryItemValue(u"page"_s).toInt(&pageOk) : 1;
    const int limit =
        query.hasQueryItem(u"limit"_s) ? query.queryItemValue(u"limit"_s).toInt(&limitOk) : 20;
    if (!pageOk || !limitOk || pageNumber < 1 || pageNumber > 100000 || limit < 1 || limit > 100)
        return invalid(u"\"page\" must be 1 or more and \"limit\" from 1 to 100."_s);
    QJsonArray items;
    const qint64 first = qint64(pageNumber - 1) * limit;
    for (qint64 i = first; i < all.size() && i < first + limit; ++i)
        items.append(all.at(i));
    return object(200, QJsonObject{{u"items"_s, items},
                                   {u"page"_s, pageNumber},
                                   {u"limit"_s, limit},
                                   {u"total"_s, int(all.size())}});
}

QJsonValue DevBackendState::deviceIdValue(const QString &deviceId) const
{
    if (m_options.numericDeviceIds)
        return QJsonValue(deviceId.toLongLong());
    return deviceId;
}

QString DevBackendState::newDeviceId()
{
    return m_options.numericDeviceIds ? QString::number(m_nextNumericDeviceId++)
                                      : DevSeed::randomId(u"dev_"_s);
}

DevAccount *DevBackendState::accountByEmail(const QString &email)
{
    const QString key = email.trimmed().toLower();
    for (DevAccount &account : m_accounts) {
        if (account.email == key)
            return &account;
    }
    return nullptr;
}

const DevAccount *DevBackendState::accountById(const QString &accountId) const
{
    for (const DevAccount &account : m_accounts) {
        if (account.id == accountId)
            return &account;
    }
    return nullptr;
}

bool DevBackendState::addAccount(const QString &email, const QString &password, bool verified,
                                 const QString &tier)
{
    if (accountByEmail(email))
        return false;
    DevAccount account;
    account.id = DevSeed::randomId(u"usr_"_s);
    account.email = email.trimmed().toLower();
    account.passwordSalt = DevSeed::randomToken(16).toLatin1();
    account.passwordHash = passwordDigest(account.passwordSalt, password);
    account.verified = verified;
    account.createdAt = QDateTime::currentDateTimeUtc();
    m_accounts.append(account);
    setAccountTier(email, tier, tier == u"free" ? u"none"_s : u"active"_s);
    return true;
}

void DevBackendState::setAccountTier(const QString &email, const QString &tier,
                                     const QString &subscriptionStatus)
{
    DevAccount *account = accountByEmail(email);
    if (!account)
        return;
    account->tier = tier;
    account->subscriptionStatus = subscriptionStatus;
    account->subscriptionEndsAt =
        tier == u"free" ? QDateTime()
                        : QDateTime::currentDateTimeUtc().addDays(30).addSecs(-7 * 3600);
}

void DevBackendState::issueVerificationToken(const QString &email)
{
    const QString token = DevSeed::randomToken(24);
    m_verificationByEmail.insert(email, token);
    if (onVerificationToken)
        onVerificationToken(email, token);
}

DevReply DevBackendState::registerAccount(const QJsonObject &body)
{
    const QString email = body.value(u"email").toString().trimmed().toLower();
    const QString password = body.value(u"password").toString();
    if (!emailPattern().match(email).hasMatch() || email.size() > 254)
        return invalid(u"Enter a valid email address."_s);
    if (password.size() < 8 || password.size() > 256)
        return invalid(u"The password must be 8 to 256 characters long."_s);
    if (accountByEmail(email))
        return error(409, u"EMAIL_TAKEN"_s, u"An account with this email already exists."_s);
    addAccount(email, password, false, u"free"_s);
    issueVerificationToken(email);
    return object(201, QJsonObject{{u"email"_s, email}, {u"verificationRequired"_s, true}});
}

DevReply DevBackendState::verifyEmail(const QJsonObject &body)
{
    const QString token = body.value(u"token").toString();
    const QString email = token.isEmpty() ? QString() : m_verificationByEmail.key(token);
    DevAccount *account = email.isEmpty() ? nullptr : accountByEmail(email);
    if (!account)
        return error(400, u"INVALID_TOKEN"_s,
                     u"The verification token is invalid or was already used."_s);
    account->verified = true;
    m_verificationByEmail.remove(email);
    return object(200, QJsonObject{{u"verified"_s, true}});
}

DevReply DevBackendState::resendVerification(const QJsonObject &body)
{
    // The same answer whether or not the address has an account, so it cannot be probed.
    const DevAccount *account = accountByEmail(body.value(u"email").toString());
    if (account && !account->verified)
        issueVerificationToken(account->email);
    return object(200, QJsonObject{{u"sent"_s, true}});
}

DevReply DevBackendState::forgotPassword(const QJsonObject &body)
{
    const DevAccount *account = accountByEmail(body.value(u"email").toString());
    if (account) {
        const QString token = DevSeed::randomToken(24);
        m_resetByEmail.insert(account->email, token);
        if (onResetToken)
            onResetToken(account->email, token);
    }
    return object(200, QJsonObject{{u"sent"_s, true}});
}

DevReply DevBackendState::resetPassword(const QJsonObject &body)
{
    const QString token = body.value(u"token").toString();
    const QString password = body.value(u"password").toString();
    const QString email = token.isEmpty() ? QString() : m_resetByEmail.key(token);
    DevAccount *account = email.isEmpty() ? nullptr : accountByEmail(email);
    if (!account)
        return error(400, u"INVALID_TOKEN"_s, u"The reset token is invalid or was already used."_s);
    if (password.size() < 8 || password.size() > 256)
        return invalid(u"The password must be 8 to 256 characters long."_s);
    account->passwordSalt = DevSeed::randomToken(16).toLatin1();
    account->passwordHash = passwordDigest(account->passwordSalt, password);
    m_resetByEmail.remove(email);
    // A new password ends every session of the account.
    const QString accountId = account->id;
    for (const DevDevice &device : std::as_const(m_devices)) {
        if (device.accountId == accountId)
            endDeviceSessions(device.id);
    }
    return object(200, QJsonObject{{u"passwordReset"_s, true}});
}

QJsonObject DevBackendState::issueTokens(const QString &accountId, const QString &deviceId)
{
    const QString access = DevSeed::randomToken();
    const QString refresh = DevSeed::randomToken(48);
    const QDateTime expiry =
        QDateTime::currentDateTimeUtc().addSecs(m_options.accessTokenLifetimeSeconds);
    m_accessGrants.insert(DevSeed::sha256(access.toLatin1()),
                          DevAccessGrant{accountId, deviceId, expiry});
    m_refreshGrants.insert(DevSeed::sha256(refresh.toLatin1()),
                           DevRefreshGrant{accountId, deviceId, false});
    return QJsonObject{{u"accessToken"_s, access},
                       {u"refreshToken"_s, refresh},
                       {u"tokenType"_s, u"Bearer"_s},
                       {u"expiresIn"_s, m_options.accessTokenLifetimeSeconds},
                       {u"deviceId"_s, deviceId}};
}

DevReply DevBackendState::login(const QJsonObject &body)
{
    const QJsonValue email = body.value(u"email");
    const QJsonValue password = body.value(u"password");
    const QJsonObject device = body.value(u"device").toObject();
    if (!email.isString() || !password.isString())
        return invalid(u"\"email\" and \"password\" are required."_s);
    const QString installationId = device.value(u"installationId").toString();
    const QString deviceToken = device.value(u"deviceToken").toString();
    if (!validInstallationId(installationId) || !validDeviceToken(deviceToken))
        return invalid(
            u"A valid \"device\" with \"installationId\" and \"deviceToken\" is required."_s);

    const DevAccount *account = accountByEmail(email.toString());
    if (!account ||
        passwordDigest(account->passwordSalt, password.toString()) != account->passwordHash)
        return error(401, u"INVALID_CREDENTIALS"_s, u"Incorrect email or password."_s);
    if (!account->verified)
        return error(403, u"EMAIL_NOT_VERIFIED"_s,
                     u"Verify your email address before signing in."_s);

    const QByteArray tokenHash = DevSeed::sha256(deviceToken.toLatin1());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    DevDevice *known = nullptr;
    for (DevDevice &candidate : m_devices) {
        if (candidate.accountId == account->id &&
            candidate.installationId.compare(installationId, Qt::CaseInsensitive) == 0)
            known = &candidate;
    }
    if (known && known->deviceTokenHash != tokenHash)
        return error(403, u"DEVICE_MISMATCH"_s,
                     u"This device's credentials do not match its registration."_s);
    if (!known) {
        const auto used =
            std::count_if(m_devices.cbegin(), m_devices.cend(),
                          [account](const DevDevice &d) { return d.accountId == account->id; });
        if (used >= m_options.deviceLimit)
            return error(409, u"DEVICE_LIMIT_REACHED"_s,
                         u"All %1 device slots are in use. Remove a device first."_s.arg(
                             m_options.deviceLimit));
        DevDevice added;
        added.id = newDeviceId();
        added.accountId = account->id;
        added.installationId = installationId;
        added.deviceTokenHash = tokenHash;
        added.createdAt = now;
        m_devices.append(added);
        known = &m_devices.last();
    }
    const QString name = device.value(u"name").toString().trimmed().left(80);
    known->name = name.isEmpty() ? u"Device"_s : name;
    known->platform = device.value(u"platform").toString(u"unknown"_s).left(40);
    known->kind = device.value(u"kind").toString().left(40);
    known->appVersion = device.value(u"appVersion").toString().left(40);
    known->lastSeenAt = now;
    QJsonObject reply = issueTokens(account->id, known->id);
    reply.insert(u"user"_s, QJsonObject{{u"id"_s, account->id}, {u"email"_s, account->email}});
    return object(200, reply);
}

DevReply DevBackendState::refresh(const QJsonObject &body)
{
    const QByteArray digest = DevSeed::sha256(body.value(u"token").toString().toLatin1());
    const auto found = m_refreshGrants.find(digest);
    if (body.value(u"token").toString().isEmpty() || found == m_refreshGrants.end())
        return error(401, u"INVALID_REFRESH_TOKEN"_s, u"The refresh token is not valid."_s);
    if (found->used)
        return error(401, u"REFRESH_TOKEN_REUSED"_s, u"The refresh token was already used."_s);
    found->used = true;
    const DevRefreshGrant grant = *found;
    return object(200, issueTokens(grant.accountId, grant.deviceId));
}

void DevBackendState::endDeviceSessions(const QString &deviceId)
{
    m_accessGrants.removeIf(
        [&deviceId](const auto &entry) { return entry.value().deviceId == deviceId; });
    m_refreshGrants.removeIf(
        [&deviceId](const auto &entry) { return entry.value().deviceId == deviceId; });
}

DevReply DevBackendState::logout(const DevCaller &caller)
{
    endDeviceSessions(caller.deviceId);
    return object(200, QJsonObject{{u"signedOut"_s, true}});
}

std::optional<DevCaller> DevBackendState::authenticate(const QByteArray &authorization,
                                                       DevReply *refusal)
{
    const QByteArray token =
        authorization.startsWith("Bearer ") ? authorization.mid(7).trimmed() : QByteArray();
    const QByteArray digest = DevSeed::sha256(token);
    const auto found = token.isEmpty() ? m_accessGrants.cend() : m_accessGrants.constFind(digest);
    if (found == m_accessGrants.cend()) {
        *refusal = error(401, u"UNAUTHORIZED"_s, u"Sign in to continue."_s);
        return std::nullopt;
    }
    if (found->expiresAt <= QDateTime::currentDateTimeUtc()) {
        *refusal = error(401, u"TOKEN_EXPIRED"_s, u"The access token has expired."_s);
        return std::nullopt;
    }
    for (DevDevice &device : m_devices) {
        if (device.id == found->deviceId)
            device.lastSeenAt = QDateTime::currentDateTimeUtc();
    }
    return DevCaller{found->accountId, found->deviceId, digest};
}

DevReply DevBackendState::me(const DevCaller &caller) const
{
    const DevAccount *account = accountById(caller.accountId);
    if (!account)
        return error(401, u"UNAUTHORIZED"_s, u"Sign in to continue."_s);
    const QJsonObject user{{u"id"_s, account->id},
                           {u"email"_s, account->email},
                           {u"emailVerified"_s, account->verified},
                           {u"currentDeviceId"_s, deviceIdValue(caller.deviceId)},
                           {u"createdAt"_s, isoTime(account->createdAt)}};
    return object(200, m_options.meInsideUser ? QJsonObject{{u"user"_s, user}} : user);
}

DevReply DevBackendState::webTicket(const DevCaller &)
{
    // Short-lived tickets the website exchanges for a session; nothing here redeems them.
    return object(201, QJsonObject{{u"token"_s, DevSeed::randomToken()}, {u"expiresIn"_s, 60}});
}

DevReply DevBackendState::devices(const DevCaller &caller, const QUrlQuery &query) const
{
    QJsonArray items;
    for (const DevDevice &device : m_devices) {
        if (device.accountId != caller.accountId)
            continue;
        items.append(QJsonObject{{u"id"_s, deviceIdValue(device.id)},
                                 {u"name"_s, device.name},
                                 {u"platform"_s, device.platform},
                                 {u"kind"_s, device.kind},
                                 {u"appVersion"_s, device.appVersion},
                                 {u"current"_s, device.id == caller.deviceId},
                                 {u"createdAt"_s, isoTime(device.createdAt)},
                                 {u"lastSeenAt"_s, isoTime(device.lastSeenAt)}});
    }
    return page(items, query);
}

DevReply DevBackendState::deleteDevice(const DevCaller &caller, const QString &deviceId)
{
    const auto found =
        std::find_if(m_devices.begin(), m_devices.end(), [&](const DevDevice &device) {
            return device.id == deviceId && device.accountId == caller.accountId;
        });
    if (found == m_devices.end())
        return error(404, u"NOT_FOUND"_s, u"No such device."_s);
    m_devices.erase(found);
    // Removing a device signs it out and revokes its VPN access.
    endDeviceSessions(deviceId);
    revokeProfiles(deviceId);
    return object(200, QJsonObject{{u"deleted"_s, true}});
}

void DevBackendState::expireAccessTokens()
{
    const QDateTime past = QDateTime::currentDateTimeUtc().addSecs(-1);
    for (DevAccessGrant &grant : m_accessGrants)
        grant.expiresAt = past;
}

int DevBackendState::deviceCount(const QString &email) const
{
    const QString key = email.trimmed().toLower();
    const auto account = std::find_if(m_accounts.cbegin(), m_accounts.cend(),
                                      [&key](const DevAccount &a) { return a.email == key; });
    if (account == m_accounts.cend())
        return 0;
    return int(std::count_if(m_devices.cbegin(), m_devices.cend(), [&account](const DevDevice &d) {
        return d.accountId == account->id;
    }));
}

QString DevBackendState::deviceIdOf(const QString &email, const QString &installationId) const
{
    const QString key = email.trimmed().toLower();
    for (const DevDevice &device : m_devices) {
        const DevAccount *account = accountById(device.accountId);
        if (account && account->email == key &&
            device.installationId.compare(installationId, Qt::CaseInsensitive) == 0)
            return device.id;
    }
    return {};
}

QString DevBackendState::addDevice(const QString &email, const QString &name,
                                   const QString &platform)
{
    const DevAccount *account = accountByEmail(email);
    if (!account)
        return {};
    DevDevice added;
    added.id = newDeviceId();
    added.accountId = account->id;
    added.installationId = DevSeed::randomUuid();
    // Nobody holds this device's token, so nobody can sign in as it.
    added.deviceTokenHash = DevSeed::sha256(DevSeed::randomToken().toLatin1());
    added.name = name;
    added.platform = platform;
    added.createdAt = QDateTime::currentDateTimeUtc();
    added.lastSeenAt = added.createdAt;
    m_devices.append(added);
    return added.id;
}
