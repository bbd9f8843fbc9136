#include "support/engineruns.h"

#include "platform/drives.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace archivon::test {

int g_versionDays = versions::kDefaultDays;

// The settings of a test's runs, and of their forecasts.
BackupEngine::Options settings(bool full, bool shutdown)
{
    BackupEngine::Options options;
    options.fullRewrite = full;
    options.shutdownAtEnd = shutdown;
    options.versionDays = g_versionDays;
    return options;
}

Run runEngine(const BackupPlan& plan, const Action& act, bool shutdown,
              const std::function<void(BackupEngine&)>& meanwhile, bool full)
{
    Run run; // written on the run's thread, read once it has ended
    BackupEngine engine;
    QObject::connect(
        &engine, &BackupEngine::reported, &engine,
        [&](const RunEvent& e) {
            run.events << e;
            if (e.kind == Kind::RunEnded)
                run.end = e.end;
            if (act)
                act(engine, e);
        },
        Qt::DirectConnection);
    engine.start(plan, settings(full, shutdown));
    if (meanwhile)
        meanwhile(engine);
    engine.wait();
    return run;
}

// Acts when the run reports the phase \a phase of pair \a N (the \a nth time).
Action at(Phase phase, int N, std::function<void(BackupEngine&)> act, int nth)
{
    auto seen = std::make_shared<int>(0);
    return [=](BackupEngine& engine, const RunEvent& e) {
        if (e.kind == Kind::Phase && e.phase == phase && e.pair == N && ++*seen == nth)
            act(engine);
    };
}

// What identifies each file's version on disk: its inode and the time of its
// last change, by path.
QMap<QString, QPair<quint64, qint64>> identities(const QString& hostFolder)
{
    QMap<QString, QPair<quint64, qint64>> found;
    for (const QString& entry : test::treeOf(hostFolder)) {
        struct stat st {};
        if (::lstat(QFile::encodeName(hostFolder + '/' + entry).constData(), &st) == 0 && S_ISREG(st.st_mode))
            found[entry] = {st.st_ino, st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
    }
    return found;
}

// Every entry below a host folder, the folder too, with its size and modification time.
QStringList stamps(const QString& hostFolder)
{
    QStringList found;
    for (const QString& entry : QStringList{""} + test::treeOf(hostFolder)) {
        struct stat st {};
        ::lstat(QFile::encodeName(hostFolder + '/' + entry).constData(), &st);
        found << QStringLiteral("%1 %2 %3").arg(entry).arg(st.st_size).arg(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
    }
    return found;
}

void setTime(const QString& path, qint64 seconds, int milliseconds)
{
    QFile f(path);
    if (f.open(QIODevice::ReadWrite))
        f.setFileTime(QDateTime::fromMSecsSinceEpoch(seconds * 1000 + milliseconds), QFileDevice::FileModificationTime);
}

// The names made in a host folder while \a act runs, in order, as the kernel saw them
// made: even one that lived a moment.
QStringList madeIn(const QString& folder, const std::function<void()>& act)
{
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_CREATE);
    act();
    QStringList names;
    alignas(inotify_event) char buffer[1 << 16];
    for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            names << QFile::decodeName(e->name);
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
    ::close(watch);
    return names;
}

// Runs an update of \a plan in a child process whose renames of the host path \a onto
// strace meets with \a fault ("signal=KILL", "error=EACCES:when=2"). The child's wait
// status: killed, or exited with 1 for a run with failures, 0 for one without, 3 where
// strace could not trace it here.
int tracedRun(const BackupPlan& plan, const QString& onto, const QString& fault)
{
    const auto traced = [](pid_t pid) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        return status.open(QIODevice::ReadOnly) && !status.readAll().contains("TracerPid:\t0\n");
    };
    const pid_t child = ::fork();
    if (child == 0) {
        for (int i = 0; !traced(::getpid()); ++i) {
            if (i > 10000)
                ::_exit(3);
            ::usleep(1000);
        }
        ::_exit(runEngine(plan, {}, false, {}, false).end.failures > 0 ? 1 : 0);
    }
    QProcess strace;
    strace.start("strace", {"-f", "-qq", "-o", "/dev/null", "-p", QString::number(child), "-P", onto, "-e",
                            "trace=rename,renameat,renameat2", "-e", "inject=rename,renameat,renameat2:" + fault});
    int status = 0;
    ::waitpid(child, &status, 0);
    strace.waitForFinished();
    return status;
}

BackupPlan EngineFixture::fourPairs()
{
    BackupPlan plan{"PC7", "ufficio2", {}};
    for (int n = 1; n <= 4; ++n) {
        drives->writeFile(QStringLiteral("C:\\s%1\\f%1.txt").arg(n), QByteArray(n * 10, 'a' + n));
        plan.pairs[n - 1] = {QStringLiteral("C:\\s%1").arg(n), QStringLiteral("R:\\BK\\d%1").arg(n)};
    }
    drives->makeDir("R:\\BK");
    return plan;
}

QStringList EngineFixture::hidden() const
{
    // The pairs' indexes are the backup's own, as the dated folders' records are.
    return tree("R:\\BK").filter(QRegularExpression("(^|/)\\.(?!archivon-byte$|archivon-indice(/|$))"));
}

void EngineFixture::bothPasses()
{
    QTest::addColumn<bool>("full");
    QTest::newRow("update in place") << false;
    QTest::newRow("full rewrite") << true;
}

} // namespace archivon::test
