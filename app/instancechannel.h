#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QLocalServer;
class QLocalSocket;

// One client per account: the first start serves a local channel that only this account can
// reach, and later starts hand it their command line instead of making a second client.
//
// A message is one line of compact JSON: {"arguments":[...]} from the new start, answered by
// {"code":N,"text":"..."} before the channel closes. Anything larger than maximumMessageSize or
// of another form is dropped and its connection closed.
class InstanceChannel : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 maximumMessageSize = 64 * 1024;

    struct Answer
    {
        int code = 0;
        QString text;
    };
    using Reply = std::function<void(const Answer &answer)>;

    // `id` names the channel within the account (letters, digits and '-').
    explicit InstanceChannel(const QString &id, QObject *parent = nullptr);

    // The id of the client's channel: one per account and application identity, so test
    // identities never meet a real client, and on Windows, where pipe names are shared by every
    // account, another account's home gives another.
    static QString accountChannelId();

    // The name the channel listens on; empty when the account has no private place for it.
    QString name() const { return m_name; }
    // Serves the channel: true when this process is now the one client. False when another
    // client answers there. A channel left behind by a crashed client is taken over.
    bool claim();
    // Sends `arguments` to the client that serves `name` and waits up to `timeoutMs` for its
    // answer: nothing when no client answers, the channel is not private or the answer is not
    // of the expected form.
    static std::optional<Answer> send(const QString &name, const QStringList &arguments,
                                      int timeoutMs);
    // Whether a client serves `name` and takes a connection.
    static bool answers(const QString &name);

signals:
    // `reply` is called once, maybe later, with what the sender prints and its exit code.
    void received(const QStringList &arguments, const InstanceChannel::Reply &reply);

private:
    void accept();
    void read(QLocalSocket *socket);

    QString m_name;
    QLocalServer *m_server = nullptr;
};
