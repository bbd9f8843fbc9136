#include "platform/drives.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace archivon::platform {

namespace {

QString g_programFolderOverride;
QString g_currentFolder; // Windows form; empty until first asked

bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

bool hasDrive(const QString& path)
{
    return path.size() >= 2 && path.at(1) == QLatin1Char(':') && path.at(0).isLetter() &&
           path.at(0).unicode() < 128;
}

void applyComponents(QStringList& out, const QString& text)
{
    qsizetype start = 0;
    const qsizetype n = text.size();
    while (start <= n) {
        qsizetype end = start;
        while (end < n && !isSeparator(text.at(end)))
            ++end;
        const QStringView part = QStringView(text).mid(start, end - start);
        if (part == u"..") {
            if (!out.isEmpty())
                out.removeLast();
        } else if (!part.isEmpty() && part != u".") {
            out << part.toString();
        }
        start = end + 1;
    }
}

} // namespace

QString drivesFolder()
{
    // Asked for every path the program touches, from every thread of a run:
    // the answer is kept while the environment says the same.
    static std::mutex mutex;
    static QByteArray lastEnv;
    static QByteArray lastData;
    static QString folder;
    const char* env = std::getenv("ARCHIVON_DRIVES");
    const char* data = std::getenv("XDG_DATA_HOME");
    const QByteArrayView envNow(env ? env : "");
    const QByteArrayView dataNow(data ? data : "");
    const std::lock_guard lock(mutex);
    if (!folder.isEmpty() && envNow == lastEnv && dataNow == lastData)
        return folder;
    lastEnv = envNow.toByteArray();
    lastData = dataNow.toByteArray();
    if (!envNow.isEmpty())
        folder = QFile::decodeName(lastEnv);
    else
        folder = dataFolder() + QStringLiteral("/drives");
    return folder;
}

QString configFile()
{
    // The XDG rule: an unset or relative XDG_CONFIG_HOME means ~/.config.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/archivon/archivon.conf");
}

std::optional<QString> configuredDrive(QChar letter)
{
    // Asked for every path, from every thread of a run: read once while the
    // environment says the same.
    static std::mutex mutex;
    static std::optional<QByteArray> lastKey;
    static QHash<QChar, QString> drives;
    if (const char* env = std::getenv("ARCHIVON_DRIVES"); env && *env)
        return std::nullopt;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const QByteArray key = QByteArray(config ? config : "") + '\0' + (home ? home : "");
    const std::lock_guard lock(mutex);
    if (key != lastKey) {
        lastKey = key;
        drives.clear();
        QSettings settings(configFile(), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Unita"));
        for (const QString& key : settings.childKeys()) {
            const QString name = key.endsWith(QLatin1Char(':')) ? key.chopped(1) : key;
            if (name.size() == 1 && name.at(0).isLetter() && name.at(0).unicode() < 128)
                drives.insert(name.at(0).toUpper(), settings.value(key).toString());
        }
    }
    const auto found = drives.constFind(letter.toUpper());
    return found == drives.constEnd() ? std::nullopt : std::optional<QString>(*found);
}

namespace {

std::optional<dev_t> deviceOf(const QString& hostPath)
{
    struct stat st {};
    if (::stat(QFile::encodeName(hostPath).constData(), &st) != 0)
        return std::nullopt;
    return st.st_dev;
}

} // namespace

bool isPlaceholderDrive(QChar letter)
{
    if (!qEnvironmentVariable("ARCHIVON_DRIVES").isEmpty() || configuredDrive(letter))
        return false;
    const auto root = driveRoot(letter);
    if (!root || QFileInfo(*root).isSymLink())
        return false;
    // A share mounted on the folder is on a file system of its own.
    const auto device = deviceOf(*root);
    return device && device == deviceOf(drivesFolder());
}

bool sameFileSystem(QChar a, QChar b)
{
    const auto rootA = driveRoot(a);
    const auto rootB = driveRoot(b);
    if (!rootA || !rootB)
        return false;
    const auto device = deviceOf(*rootA);
    return device && device == deviceOf(*rootB);
}

void ensureDefaultDrives()
{
    if (!qEnvironmentVariable("ARCHIVON_DRIVES").isEmpty())
        return;
    const QString folder = drivesFolder();
    if (QFileInfo::exists(folder))
        return;
    QDir().mkpath(folder);
    QFile::link(QDir::homePath(), folder + QStringLiteral("/c"));
    QDir().mkpath(folder + QStringLiteral("/r"));
}

std::optional<QString> driveRoot(QChar letter)
{
    const QChar lower = letter.toLower();
    if (lower < QLatin1Char('a') || lower > QLatin1Char('z'))
        return std::nullopt;
    if (const auto configured = configuredDrive(letter)) {
        struct stat st {};
        if (QDir::isRelativePath(*configured) ||
            ::stat(QFile::encodeName(*configured).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return std::nullopt;
        return QDir::cleanPath(*configured);
    }
    // One stat in the usual case: the entry is named by the lower-case letter.
    const QString prefix = drivesFolder() + QLatin1Char('/');
    for (int variant = 0; variant < 4; ++variant) {
        QString candidate = prefix;
        candidate += (variant % 2 == 0) ? lower : lower.toUpper();
        if (variant >= 2)
            candidate += QLatin1Char(':');
        const QByteArray bytes = QFile::encodeName(candidate);
        struct stat st {};
        if (::stat(bytes.constData(), &st) == 0)
            return S_ISDIR(st.st_mode) ? std::optional<QString>(candidate) : std::nullopt;
        if (::lstat(bytes.constData(), &st) == 0)
            return std::nullopt; // a link whose target is gone: the drive is not ready
    }
    if (lower == QLatin1Char('z'))
        return QStringLiteral("/");
    return std::nullopt;
}

QList<QChar> readyDrives()
{
    QList<QChar> letters;
    for (char c = 'A'; c <= 'Z'; ++c) {
        if (driveRoot(QLatin1Char(c)))
            letters << QLatin1Char(c);
    }
    return letters;
}

QString DrivePath::toString() const
{
    QString s = QString(drive) + QStringLiteral(":\\");
    s += components.join(QLatin1Char('\\'));
    return s;
}

std::optional<DrivePath> resolve(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    // Network shares are not supported on this platform.
    if (path.size() >= 2 && isSeparator(path.at(0)) && isSeparator(path.at(1)))
        return std::nullopt;

    DrivePath result;
    QString rest;
    if (hasDrive(path)) {
        result.drive = path.at(0).toUpper();
        rest = path.mid(2);
        // "X:name" is relative to the current folder when that is on the same drive.
        if (!rest.isEmpty() && !isSeparator(rest.at(0))) {
            const auto cur = resolve(currentFolder());
            if (cur && cur->drive == result.drive)
                result.components = cur->components;
        }
    } else {
        const auto cur = resolve(currentFolder());
        if (!cur)
            return std::nullopt;
        result.drive = cur->drive;
        if (!isSeparator(path.at(0)))
            result.components = cur->components;
        rest = path;
    }
    applyComponents(result.components, rest);
    return result;
}

std::optional<QString> toHost(const QString& path)
{
    // The usual case, an absolute drive path, is walked once without building
    // a component list; anything else goes through resolve().
    if (hasDrive(path) && path.size() > 2 && isSeparator(path.at(2))) {
        const auto root = driveRoot(path.at(0));
        if (!root)
            return std::nullopt;
        QString host = *root;
        const qsizetype rootLength = host.endsWith(QLatin1Char('/')) ? host.size() - 1 : host.size();
        host.truncate(rootLength);
        host.reserve(rootLength + path.size());
        const qsizetype n = path.size();
        qsizetype start = 3;
        while (start <= n) {
            qsizetype end = start;
            while (end < n && !isSeparator(path.at(end)))
                ++end;
            const QStringView part = QStringView(path).mid(start, end - start);
            if (part == u"..") {
                const qsizetype slash = host.lastIndexOf(QLatin1Char('/'));
                host.truncate(std::max(rootLength, slash));
            } else if (!part.isEmpty() && part != u".") {
                host += QLatin1Char('/');
                host += part;
            }
            start = end + 1;
        }
        if (host.isEmpty())
            host = QStringLiteral("/");
        return host;
    }
    const auto resolved = resolve(path);
    if (!resolved)
        return std::nullopt;
    const auto root = driveRoot(resolved->drive);
    if (!root)
        return std::nullopt;
    QString host = *root;
    for (const QString& c : resolved->components) {
        if (!host.endsWith(QLatin1Char('/')))
            host += QLatin1Char('/');
        host += c;
    }
    return host;
}

QString fromHost(const QString& hostPath)
{
    const QFileInfo info(hostPath);
    const QString canonical = info.canonicalFilePath();
    const QString canonicalTarget = canonical.isEmpty() ? info.absoluteFilePath() : canonical;
    QChar bestDrive = QLatin1Char('Z');
    QString bestRoot = QStringLiteral("/");
    for (QChar letter : readyDrives()) {
        if (letter == QLatin1Char('Z'))
            continue;
        const QString root = QFileInfo(*driveRoot(letter)).canonicalFilePath();
        if (root.isEmpty() || root.size() <= bestRoot.size())
            continue;
        if (canonicalTarget == root || canonicalTarget.startsWith(root + QLatin1Char('/'))) {
            bestDrive = letter;
            bestRoot = root;
        }
    }
    const QString rest = canonicalTarget.mid(bestRoot.size());
    DrivePath dp{bestDrive, {}};
    applyComponents(dp.components, rest);
    return dp.toString();
}

QString currentFolder()
{
    if (g_currentFolder.isEmpty())
        g_currentFolder = programFolder();
    return g_currentFolder;
}

bool setCurrentFolder(const QString& path)
{
    const auto resolved = resolve(path);
    if (!resolved)
        return false;
    const auto host = toHost(resolved->toString());
    if (!host || !QFileInfo(*host).isDir())
        return false;
    g_currentFolder = resolved->toString();
    return true;
}

QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/archivon");
}

namespace {

QString executableFolder()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                        : QDir::currentPath();
}

QString installedDataFolder()
{
    return QDir::cleanPath(executableFolder() + QStringLiteral("/" ARCHIVON_DATA_FROM_BIN));
}

// A build or a copy of the user's keeps its files beside the executable. An
// installed program has them in <prefix>/share/archivon instead, and then its
// own folder is never written, not even by root, who could.
bool writesBesideExecutable()
{
    const QString exe = executableFolder();
    if (::access(QFile::encodeName(exe).constData(), W_OK) != 0)
        return false;
    const QString gif = QStringLiteral("/anim.gif");
    return QFileInfo::exists(exe + gif) || !QFileInfo::exists(installedDataFolder() + gif);
}

} // namespace

QString programHostFolder()
{
    if (!g_programFolderOverride.isEmpty())
        return g_programFolderOverride;
    if (writesBesideExecutable())
        return executableFolder();
    // Installed: the user's own data folder stands in for the executable's.
    const QString data = dataFolder();
    if (!QDir().mkpath(data)) {
        static bool told = false;
        if (!told) {
            std::fprintf(stderr, "archivon: impossibile creare la cartella del programma %s\n",
                         QFile::encodeName(data).constData());
            told = true;
        }
    }
    return data;
}

QString programFolder()
{
    return fromHost(programHostFolder());
}

QString dataFile(const QString& name)
{
    const QString exe = executableFolder();
    const QString candidates[] = {
        programHostFolder() + QLatin1Char('/') + name,
        exe + QLatin1Char('/') + name,
        installedDataFolder() + QLatin1Char('/') + name,
    };
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return fromHost(candidate);
    }
    return joinPath(programFolder(), name);
}

void setProgramFolderForTesting(const QString& hostPath) { g_programFolderOverride = hostPath; }

QString joinPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('\\') + name;
}

} // namespace archivon::platform
