#include "common/logtext.h"

#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString hidden = u"[hidden]"_s;

// A run this long of letters, digits and token punctuation is a token, a key or an encoded
// secret rather than a word.
constexpr int tokenRun = 24;

QString maskAddress(QStringView address)
{
    const qsizetype at = address.indexOf(u'@');
    if (at < 1 || at == address.size() - 1)
        return hidden;
    return address.first(1).toString() + u"\u2022\u2022\u2022"_s + address.mid(at).toString();
}

} // namespace

LogText LogText::number(qint64 value)
{
    return {Checked{}, QString::number(value)};
}

LogText LogText::identifier(QStringView text)
{
    if (text.isEmpty())
        return {Checked{}, u"-"_s};
    // Up to 64 of letters, digits and "._:/#-", starting with a letter, digit, "/" or "#"; and no
    // token-long run in it. Checked by hand: the client logs its start before its first frame.
    bool word = text.size() <= 64;
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size() && word; ++i) {
        const char16_t c = text[i].unicode();
        const bool alphanumeric =
            (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        word = alphanumeric || c == u'/' || c == u'#' ||
               (i > 0 && (c == u'.' || c == u'_' || c == u':' || c == u'-'));
        const bool tokenCharacter =
            alphanumeric || c == u'_' || c == u'+' || c == u'=' || c == u'-';
        run = tokenCharacter ? run + 1 : 0;
        word = word && run < tokenRun;
    }
    return {Checked{}, word ? text.toString() : hidden};
}

LogText LogText::redacted(QStringView text)
{
    // In this order: a link may hold credentials, a UUID or an address, and a credential's
    // value may be a token.
    static const QRegularExpression link(u"[A-Za-z][A-Za-z0-9+.-]*://\\S*"_s);
    static const QRegularExpression uuid(
        u"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}"_s);
    static const QRegularExpression email(
        u"[^\\s@\"'<>(),;:]+@[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)+"_s);
    static const QRegularExpression credential(
        u"(\"?(?:password|passwd|pass|secret|token|key|auth[a-z_]*|uuid|user_?id|private_key|"
        u"short_id|public_key|credential)\"?\\s*[:=]\\s*)(\"[^\"]*\"|\\S+)"_s,
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tokenLike(u"[A-Za-z0-9_+/=.-]{%1,}"_s.arg(tokenRun));
    static const QRegularExpression control(u"[\\x00-\\x1f\\x7f]"_s);

    QString result = text.left(maximumLength * 4).toString();
    result.replace(link, u"[link]"_s);
    result.replace(uuid, u"[uuid]"_s);
    QString masked;
    qsizetype from = 0;
    for (auto match = email.globalMatch(result); match.hasNext();) {
        const QRegularExpressionMatch found = match.next();
        masked += result.mid(from, found.capturedStart() - from) + maskAddress(found.captured());
        from = found.capturedEnd();
    }
    result = masked + result.mid(from);
    result.replace(credential, u"\\1"_s + hidden);
    result.replace(tokenLike, hidden);
    result.replace(control, u" "_s);
    return {Checked{}, result.left(maximumLength)};
}
