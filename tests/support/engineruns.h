#pragma once

// Runs of the engine for the tests of the rooms that a run goes through: each
// run's reports as it made them, the settings the tests share, and four pairs
// on temporary drives.

#include "engine/engine.h"
#include "support/drives.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QStringList>
#include <QtTest>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <functional>
#include <optional>

namespace archivon::test {

using Kind = RunEvent::Kind;

// Root without the capabilities that pass over permissions, as a normal user is: for
// this thread and the threads it starts (the engine's), until destroyed.
struct WithoutPrivileges
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
    WithoutPrivileges()
    {
        syscall(SYS_capget, &header, saved);
        __user_cap_data_struct data[2] = {saved[0], saved[1]};
        for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            data[CAP_TO_INDEX(cap)].effective &= ~CAP_TO_MASK(cap);
        syscall(SYS_capset, &header, data);
    }
    ~WithoutPrivileges() { syscall(SYS_capset, &header, saved); }
};

// One run of the engine, its reports taken as they are made, on its thread.
struct Run
{
    QList<RunEvent> events;
    RunEnd end;

    QStringList of(Kind kind) const
    {
        QStringList lines;
        for (const RunEvent& e : events) {
            if (e.kind == kind)
                lines << e.path + " : " + e.detail;
        }
        return lines;
    }
    // The steps of the pairs: "scan 1", "start 1", "clean 1"... "done 1".
    QString steps() const
    {
        static const QStringList phases{"scan", "clean", "create", "folders", "copy"};
        QStringList steps;
        for (const RunEvent& e : events) {
            if (e.kind == Kind::Phase)
                steps << phases.at(int(e.phase)) + ' ' + QString::number(e.pair);
            else if (e.kind == Kind::PairStarted || e.kind == Kind::PairFinished)
                steps << (e.kind == Kind::PairStarted ? "start " : "done ") + QString::number(e.pair);
        }
        return steps.join(',');
    }
    const RunEvent& first(Kind kind, int pair = 1) const
    {
        return *std::find_if(events.begin(), events.end(),
                             [=](const RunEvent& e) { return e.kind == kind && e.pair == pair; });
    }
};

using Action = std::function<void(BackupEngine&, const RunEvent&)>;

// The days the runs of a test keep versions; tests of what a removal does set 0.
extern int g_versionDays;

// The settings of a test's runs, and of their forecasts.
BackupEngine::Options settings(bool full, bool shutdown = false);

Run runEngine(const BackupPlan& plan, const Action& act = {}, bool shutdown = true,
              const std::function<void(BackupEngine&)>& meanwhile = {}, bool full = true);

// Acts when the run reports the phase \a phase of pair \a N (the \a nth time).
Action at(Phase phase, int N, std::function<void(BackupEngine&)> act, int nth = 1);

// What identifies each file's version on disk: its inode and the time of its
// last change, by path.
QMap<QString, QPair<quint64, qint64>> identities(const QString& hostFolder);

// Every entry below a host folder, the folder too, with its size and modification time.
QStringList stamps(const QString& hostFolder);

void setTime(const QString& path, qint64 seconds, int milliseconds = 0);

// The names made in a host folder while \a act runs, in order, as the kernel saw them
// made: even one that lived a moment.
QStringList madeIn(const QString& folder, const std::function<void()>& act);

// Runs an update of \a plan in a child process whose renames of the host path \a onto
// strace meets with \a fault ("signal=KILL", "error=EACCES:when=2"). The child's wait
// status: killed, or exited with 1 for a run with failures, 0 for one without, 3 where
// strace could not trace it here.
int tracedRun(const BackupPlan& plan, const QString& onto, const QString& fault);

// The backup folder of the plans the tests make with defaultPlan("PC7", "ufficio2").
inline const QString kRoot = QStringLiteral("R:\\BKPQORL\\PC7_ufficio2");

// Temporary drives for each test function, and what the tests ask of them.
struct EngineFixture
{
    std::optional<TempDrives> drives;

    void setUp()
    {
        drives.emplace();
        g_versionDays = versions::kDefaultDays;
    }
    // Four pairs, C:\s1..s4 to R:\BK\d1..d4, each source with one file.
    BackupPlan fourPairs();
    QString host(const QString& path) const { return drives->host(path); }
    QStringList tree(const QString& path) const { return treeOf(host(path)); }
    QByteArray read(const QString& path) const { return drives->readFile(path); }
    // Hidden entries but the record of a versions folder's bytes.
    QStringList hidden() const;
    static void bothPasses();
};

} // namespace archivon::test
