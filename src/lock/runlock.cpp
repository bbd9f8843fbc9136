#include "lock/runlock.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/identity.h"
#include "platform/textfile.h"

#include <QHash>
#include <QLocale>
#include <QScopeGuard>
#include <QSet>
#include <QUuid>

#include <cerrno>

namespace archivon {

using namespace platform;

namespace {

const QString kOwnerFile = QStringLiteral("proprietario");
const QString kBeatFile = QStringLiteral("battito");
// Written by a backup that wants the folder a check holds.
const QString kGiveWayFile = QStringLiteral("cedere");
// Beside the lock: a stale lock being taken over, and this run's lock on its
// way out, so that a lock without its owner file is only ever one being made.
const QString kAsidePrefix = QStringLiteral(".archivon-blocco.");
// The share's clock, read from a file this run writes and removes at once.
const QString& kClockPrefix = kLockClockPrefix;
// The claim of the one run that takes a stale lock over, named by that lock.
const QString kClaimPrefix = QStringLiteral(".archivon-blocco.presa-");

constexpr qint64 kSecondNs = 1000000000;

QByteArray ownerText(const LockOwner& o)
{
    QStringList lines{QStringLiteral("computer=") + o.computer,
                      QStringLiteral("utente=") + o.user,
                      QStringLiteral("host=") + o.host,
                      QStringLiteral("boot=") + o.bootId,
                      QStringLiteral("pid=%1").arg(o.pid),
                      QStringLiteral("avvio-processo=%1").arg(o.processStart),
                      QStringLiteral("inizio=") + o.started.toString(Qt::ISODate),
                      QStringLiteral("token=") + o.token,
                      QStringLiteral("tipo=") + lockKindName(o.kind)};
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

std::optional<LockOwner> readOwner(const QString& lock)
{
    const auto folderTime = modifiedNs(lock);
    if (!folderTime)
        return std::nullopt; // no lock at all
    LockOwner o;
    o.heartbeatNs = *folderTime;
    const auto text = readSmallFile(joinPath(lock, kOwnerFile));
    if (!text) {
        o.unnamed = true;
        return o;
    }
    for (const QString& line : QString::fromUtf8(*text).split(QLatin1Char('\n'))) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("computer"))
            o.computer = value;
        else if (key == QLatin1String("utente"))
            o.user = value;
        else if (key == QLatin1String("host"))
            o.host = value;
        else if (key == QLatin1String("boot"))
            o.bootId = value;
        else if (key == QLatin1String("pid"))
            o.pid = value.toLongLong();
        else if (key == QLatin1String("avvio-processo"))
            o.processStart = value.toULongLong();
        else if (key == QLatin1String("inizio"))
            o.started = QDateTime::fromString(value, Qt::ISODate);
        else if (key == QLatin1String("token"))
            o.token = value;
        else if (key == QLatin1String("tipo"))
            o.kind = value == lockKindName(LockKind::Restore) ? LockKind::Restore
                     : value == lockKindName(LockKind::Check) ? LockKind::Check
                                                              : LockKind::Backup;
    }
    o.unnamed = o.token.isEmpty();
    if (const auto owned = modifiedNs(joinPath(lock, kOwnerFile)))
        o.heartbeatNs = std::max(o.heartbeatNs, *owned);
    if (const auto beat = modifiedNs(joinPath(lock, kBeatFile)))
        o.heartbeatNs = std::max(o.heartbeatNs, *beat);
    return o;
}

// The names a search finds, taken whole before anything of them is removed.
QStringList namesMatching(const QString& pattern, unsigned mask)
{
    DirSearch search(pattern, mask);
    QStringList names;
    for (QString name = search.next(); !name.isEmpty(); name = search.next())
        names << name;
    return names;
}

// The files of a lock folder, then the folder; only what a lock holds.
void removeLockFolder(const QString& folder)
{
    for (const QString& name : namesMatching(joinPath(folder, QStringLiteral("*.*")), Hidden | System))
        (void)deleteFile(joinPath(folder, name));
    (void)removeFolder(folder);
}

// The share's own time now, from a file written there; nothing when it cannot be had.
std::optional<qint64> shareNow(const QString& root, const QString& token)
{
    const QString probe = joinPath(root, kClockPrefix + token);
    if (!writeInPlace(probe, QByteArray()))
        return std::nullopt;
    const auto time = modifiedNs(probe);
    (void)deleteFile(probe);
    if (!time)
        return std::nullopt;
    return *time;
}

// What earlier takers and killed runs left beside the lock, once this run holds
// it. A claim on a stale lock goes only once it is old: its run may hold the
// lock still (or have died holding it).
void sortOutBesideLock(const QString& root, const QString& token)
{
    std::optional<qint64> now; // the share's clock, read only if a claim is there to age
    for (const QString& name : namesMatching(joinPath(root, QStringLiteral(".archivon-*")),
                                             Hidden | System | Directory)) {
        const QString path = joinPath(root, name);
        if (name.startsWith(kClockPrefix) && !name.endsWith(token)) {
            (void)deleteFile(path);
        } else if (name.startsWith(kClaimPrefix)) {
            if (!now)
                now = shareNow(root, token);
            const auto made = modifiedNs(path);
            if (now && made && *now - *made > qint64(RunLock::kStaleAfterSeconds) * kSecondNs)
                (void)removeFolder(path);
        } else if (name.startsWith(kAsidePrefix)) {
            removeLockFolder(path);
        }
    }
}

void removeClaims(const QString& root)
{
    for (const QString& name :
         namesMatching(joinPath(root, kClaimPrefix + QLatin1Char('*')), Hidden | System | Directory))
        (void)removeFolder(joinPath(root, name));
}

// Lets the lock \a token of \a root go: true once it is gone, or is no longer
// this run's; false while R: cannot be reached or the lock cannot be moved.
bool letGo(const QString& root, const QString& token)
{
    const QString lock = runLockPath(root);
    const auto found = readOwner(lock);
    if (!found)
        return linkAttributes(root).ok(); // no lock, or no R: to find it on
    if (found->unnamed)
        return false; // being made, or its owner unreadable for now: looked at again
    if (found->token != token)
        return true; // taken over: the claim named by this run's token stays with it
    // The claims of those who took a stale lock over before this run made its
    // own go now: whoever read that lock has long seen this one instead.
    removeClaims(root);
    // Only this run's own lock goes, and through a rename, so that no run
    // ever finds it half removed. One that another run made in the meantime
    // (this one silent so long that it was taken over) goes back.
    const QString leaving = joinPath(root, kAsidePrefix + QStringLiteral("fine-") + token);
    if (!moveEntry(lock, leaving))
        return false;
    if (const auto moved = readOwner(leaving); moved && moved->token != token) {
        (void)moveEntry(leaving, lock);
        return true;
    }
    removeLockFolder(leaving);
    return true;
}

// The locks of this process: those its runs hold, and those that its ended
// runs could not let go of (R: gone at the end), tried again every minute
// while the process lives. A lock of this process that none of its runs holds
// is stale, so that the next run here is not refused by what the last one left.
class OwnLocks
{
public:
    static OwnLocks& instance()
    {
        static OwnLocks locks;
        return locks;
    }
    ~OwnLocks() { stop(); }
    void stop()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_quitting = true;
        }
        m_changed.notify_all();
        if (m_retries.joinable())
            m_retries.join();
    }

    bool holds(const QString& token)
    {
        const std::lock_guard lock(m_heldMutex);
        return m_held.contains(token);
    }
    void taken(const QString& token)
    {
        const std::lock_guard lock(m_heldMutex);
        m_held.insert(token);
    }
    void released(const QString& root, const QString& token, bool gone)
    {
        {
            const std::lock_guard lock(m_heldMutex);
            m_held.remove(token);
        }
        if (gone)
            return;
        const std::lock_guard lock(m_mutex);
        m_leftBehind.insert(root, token);
        if (!m_retries.joinable())
            m_retries = std::thread([this] { retry(); });
    }
    /// A run of this process is about to take \a root's lock: it takes over
    /// what an earlier one left there, instead of a retry removing it under
    /// it. The token left behind, to be tried again if the run does not take it.
    std::optional<QString> forget(const QString& root)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_leftBehind.contains(root))
            return std::nullopt;
        return m_leftBehind.take(root);
    }

private:
    OwnLocks() = default;

    void retry()
    {
        std::unique_lock lock(m_mutex);
        while (!m_quitting) {
            m_changed.wait_for(lock, std::chrono::seconds(RunLock::kHeartbeatSeconds));
            if (m_quitting)
                break;
            // The share may be slow or hang: nobody waits on the mutex for it.
            const QHash<QString, QString> left = m_leftBehind;
            lock.unlock();
            QStringList gone;
            for (auto it = left.begin(); it != left.end(); ++it) {
                if (letGo(it.key(), it.value()))
                    gone << it.key();
            }
            lock.lock();
            for (const QString& root : gone) {
                if (m_leftBehind.value(root) == left.value(root))
                    m_leftBehind.remove(root);
            }
        }
    }

    std::mutex m_heldMutex;
    QSet<QString> m_held;
    std::mutex m_mutex; // the locks left behind, and the thread that retries them
    std::condition_variable m_changed;
    QHash<QString, QString> m_leftBehind; // token by backup folder
    std::thread m_retries;
    bool m_quitting = false;
};

} // namespace

QString runLockPath(const QString& backupRoot)
{
    return joinPath(backupRoot, RunLock::kName);
}

std::optional<LockOwner> readRunLock(const QString& backupRoot)
{
    return readOwner(runLockPath(backupRoot));
}

LockState judgeRunLock(const LockOwner& owner, qint64 nowNs)
{
    if (!owner.unnamed && owner.host == hostName()) {
        if (owner.bootId != bootId())
            return LockState::Stale;
        if (owner.pid <= 0 || processStart(owner.pid) != owner.processStart)
            return LockState::Stale;
        if (owner.pid == processId() && !OwnLocks::instance().holds(owner.token))
            return LockState::Stale; // left by a run of this process that has ended
    }
    // A process that lives may still have lost its run's lock (R: went away
    // and came back): a silent heartbeat tells, on this machine as on another.
    // One whose maker never said who it is has only its heartbeat to go by.
    return nowNs - owner.heartbeatNs > qint64(RunLock::kStaleAfterSeconds) * kSecondNs
               ? LockState::Stale
               : LockState::Live;
}

std::optional<LockOwner> liveLockAbove(const QString& destination, const QString& ownToken)
{
    auto where = resolve(destination);
    if (!where)
        return std::nullopt;
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * 1000000;
    while (!where->components.isEmpty()) {
        if (const auto owner = readRunLock(where->toString());
            owner && (ownToken.isEmpty() || owner->token != ownToken) &&
            judgeRunLock(*owner, now) == LockState::Live)
            return owner;
        where->components.removeLast();
    }
    return std::nullopt;
}

QString lockKindName(LockKind kind)
{
    switch (kind) {
    case LockKind::Restore:
        return QStringLiteral("ripristino");
    case LockKind::Check:
        return QStringLiteral("verifica");
    case LockKind::Backup:
        break;
    }
    return QStringLiteral("backup");
}

QString lockedMessage(const LockOwner& owner, LockKind refused)
{
    QString since;
    if (owner.started.isValid()) {
        const QDateTime local = owner.started.toLocalTime();
        since = QStringLiteral(" dal %1 alle %2")
                    .arg(local.toString(QStringLiteral("dd/MM/yyyy")),
                         local.toString(QStringLiteral("HH:mm:ss")));
    }
    QString who;
    if (!owner.host.isEmpty())
        who = (owner.kind == LockKind::Check ? QStringLiteral(" (avviata sul computer %1)")
                                             : QStringLiteral(" (avviato sul computer %1)"))
                  .arg(owner.host);
    const bool feminine = owner.kind == LockKind::Check;
    const QString holder = owner.kind == refused
                               ? (feminine ? QStringLiteral("Un'altra ") : QStringLiteral("Un altro "))
                               : (feminine ? QStringLiteral("Una ") : QStringLiteral("Un "));
    const QString mine = refused == LockKind::Check ? QStringLiteral("La verifica non è stata avviata")
                                                    : QStringLiteral("Il %1 non è stato avviato")
                                                          .arg(lockKindName(refused));
    return QStringLiteral("%1 di questo computer è in corso%2%3.\r\n"
                          "%4: riprovare al termine di %5 in corso.")
        .arg(holder + lockKindName(owner.kind), since, who, mine,
             feminine ? QStringLiteral("quella") : QStringLiteral("quello"));
}

RunLock::~RunLock()
{
    release();
}

namespace {

// A stale lock \a found at \a lock. Of the runs that find it so, the one that makes the claim on
// that very lock (a folder named by it: mkdir lets only one) removes
// it; the others wait for the lock to be made anew. The claim stays
// while the new lock is held (its holder removes it as it lets go): a
// run that read the stale lock a moment before must not take the new
// one for it.
// Returns the lock it removed, if this run removed it.
std::optional<LockOwner> takeOverStale(const QString& backupRoot, const QString& lock, const LockOwner& found,
                                       qint64 now, const QString& token)
{
    const QString claim =
        joinPath(backupRoot, kClaimPrefix + (found.unnamed ? QStringLiteral("anonimo-%1").arg(found.heartbeatNs)
                                                            : found.token));
    if (!makeFolder(claim)) {
        const auto claimed = modifiedNs(claim);
        if (claimed && now - *claimed > qint64(RunLock::kStaleAfterSeconds) * kSecondNs)
            (void)removeFolder(claim); // an old one: its maker was killed while taking over
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        return std::nullopt;
    }
    const QString aside = joinPath(backupRoot, kAsidePrefix + QStringLiteral("scaduto-") + token);
    if (moveEntry(lock, aside)) {
        // What was renamed is the lock judged stale unless its holder let it go
        // and another run made a new one in between: that one goes back.
        const auto taken = readOwner(aside);
        if (taken && taken->token == found.token) {
            removeLockFolder(aside);
            return found;
        }
        (void)moveEntry(aside, lock);
    }
    return std::nullopt;
}

} // namespace

RunLock::Outcome RunLock::acquire(const QString& backupRoot, const QString& computer,
                                  const QString& user, const QDateTime& started, LockKind kind)
{
    Outcome outcome;
    const QString lock = runLockPath(backupRoot);
    const QString token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    LockOwner me;
    me.computer = computer;
    me.user = user;
    me.host = hostName();
    me.bootId = bootId();
    me.pid = processId();
    me.processStart = processStart(me.pid);
    me.started = started.toOffsetFromUtc(started.offsetFromUtc());
    me.token = token;
    me.kind = kind;

    const auto leftBehind = OwnLocks::instance().forget(backupRoot);
    // Known as held from before the lock is made, so that no other run of
    // this process ever finds it made and takes it for one left behind.
    OwnLocks::instance().taken(token);
    auto notTaken = qScopeGuard([&] {
        OwnLocks::instance().released(backupRoot, token, true);
        if (leftBehind) // still to be let go
            OwnLocks::instance().released(backupRoot, *leftBehind, false);
    });
    // A few rounds: each one that finds the lock gone, or another run taking a
    // stale one over, tries to make it again.
    for (int round = 0; round < 12; ++round) {
        if (const Status made = makeFolder(lock); made) {
            if (const Status written = writeInPlace(joinPath(lock, kOwnerFile), ownerText(me));
                !written) {
                removeLockFolder(lock);
                outcome.result = Result::Failed;
                outcome.error = written.error();
                return outcome;
            }
            m_root = backupRoot;
            m_token = token;
            notTaken.dismiss();
            beat();
            sortOutBesideLock(backupRoot, token);
            m_releasing = false;
            m_beats = std::thread([this] { beatUntilReleased(); });
            outcome.result = Result::Taken;
            return outcome;
        } else if (made.kind() != ErrorKind::Exists) {
            outcome.result = Result::Failed;
            outcome.error = made.error();
            return outcome;
        }
        const auto found = readOwner(lock);
        if (!found)
            continue; // removed by its holder or a taker meanwhile
        const auto now = shareNow(backupRoot, token);
        if (!now || judgeRunLock(*found, *now) == LockState::Live) {
            outcome.result = Result::Held;
            outcome.other = found;
            return outcome;
        }
        if (const auto removed = takeOverStale(backupRoot, lock, *found, *now, token))
            outcome.other = removed;
    }
    // Another run has been taking it over all this time.
    outcome.result = Result::Held;
    if (const auto found = readOwner(lock))
        outcome.other = found;
    return outcome;
}

RunLock::Outcome RunLock::acquireForBackup(const QString& backupRoot, const QString& computer,
                                           const QString& user, const QDateTime& started,
                                           const std::function<bool()>& keepWaiting)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kGiveWaySeconds);
    QString asked; // the check asked already, by its token
    for (;;) {
        Outcome taken = acquire(backupRoot, computer, user, started, LockKind::Backup);
        // Once a check was asked, a lock found without a readable holder, or
        // one that cannot be made for a moment, is that check letting go: tried again.
        const bool check = taken.result != Result::Taken &&
                           (taken.result == Result::Held && taken.other ? taken.other->kind == LockKind::Check
                                                                        : !asked.isEmpty());
        if (!check || std::chrono::steady_clock::now() >= until || (keepWaiting && !keepWaiting()))
            return taken;
        if (taken.other && taken.other->token != asked && askToGiveWay(backupRoot))
            asked = taken.other->token;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

bool RunLock::askedToGiveWay() const
{
    return !m_token.isEmpty() && linkAttributes(joinPath(runLockPath(m_root), kGiveWayFile)).ok();
}

Status askToGiveWay(const QString& backupRoot)
{
    const QString lock = runLockPath(backupRoot);
    const auto owner = readOwner(lock);
    if (!owner || owner->kind != LockKind::Check)
        return Status::failure(QStringLiteral("nessuna verifica in corso"));
    return writeInPlace(joinPath(lock, kGiveWayFile), QByteArray("1\n"));
}

void RunLock::beat()
{
    if (m_token.isEmpty())
        return;
    ++m_beatCount;
    (void)writeInPlace(joinPath(runLockPath(m_root), kBeatFile),
                       QStringLiteral("%1 %2\n")
                           .arg(m_beatCount)
                           .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                           .toUtf8());
}

void RunLock::beatUntilReleased()
{
    std::unique_lock lock(m_mutex);
    while (!m_released.wait_for(lock, std::chrono::seconds(kHeartbeatSeconds),
                                [this] { return m_releasing; }))
        beat();
}

void RunLock::stopRetrying()
{
    OwnLocks::instance().stop();
}

void RunLock::release()
{
    if (m_token.isEmpty())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_releasing = true;
    }
    m_released.notify_all();
    if (m_beats.joinable())
        m_beats.join();
    OwnLocks::instance().released(m_root, m_token, letGo(m_root, m_token));
    m_token.clear();
}

} // namespace archivon
