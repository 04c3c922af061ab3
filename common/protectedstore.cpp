#include "common/protectedstore.h"

#include "platform/crypto.h"
#include "platform/protectedfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace protectedstore {

namespace {

// The seam speaks UTF-8 paths on both systems.
std::string nativePath(const QString &path)
{
    return path.toUtf8().toStdString();
}

// Names are plain file names inside the data directory; one that could climb out of it or name
// another directory's file is refused.
bool validName(const QString &name)
{
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') &&
           !name.contains(QChar(u'\0'));
}

QString pathOf(const QString &name)
{
    return dataDirectory() + u'/' + name + u".dpapi"_s;
}

bool write(const QString &path, const QByteArray &bytes, const std::string &description,
           bool machineScope, const QString &readerAccount)
{
    // The seam takes its own copy of the plaintext; that copy is ours to wipe.
    std::vector<std::uint8_t> plain(bytes.cbegin(), bytes.cend());
    const bool written = platform::writeProtectedFileAtomically(
        nativePath(path), plain, description, machineScope, readerAccount.toStdString());
    platform::secureZero(plain);
    return written;
}

} // namespace

QString dataDirectory()
{
    const QString directory =
        QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    // A failure here surfaces as the failure of the file operation that follows.
    QDir().mkpath(directory);
    return directory;
}

QByteArray readProtected(const QString &name)
{
    return validName(name) ? readProtectedFile(pathOf(name)) : QByteArray();
}

bool writeProtected(const QString &name, const QByteArray &bytes)
{
    return validName(name) && write(pathOf(name), bytes, "SolvikVPN", false, {});
}

bool protectedExists(const QString &name)
{
    return validName(name) && QFileInfo::exists(pathOf(name));
}

bool removeProtected(const QString &name)
{
    if (!validName(name))
        return false;
    const QString path = pathOf(name);
    // A file that vanished between the attempt and the check was removed all the same.
    const QFileInfo info(path);
    return QFile::remove(path) || (!info.exists() && !info.isSymLink());
}

QByteArray readProtectedFile(const QString &path)
{
    std::vector<std::uint8_t> plain = platform::readProtectedFile(nativePath(path));
    QByteArray bytes(reinterpret_cast<const char *>(plain.data()), qsizetype(plain.size()));
    platform::secureZero(plain);
    return bytes;
}

bool writeMachineProtectedFile(const QString &path, const QString &description,
                               const QByteArray &bytes, const QString &readerAccount)
{
    return write(path, bytes, description.toStdString(), true, readerAccount);
}

} // namespace protectedstore
