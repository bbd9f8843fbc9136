// The run's record.

#include "platform/drives.h"
#include "record/overview.h"
#include "record/runlog.h"
#include "support/engineruns.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using namespace archivon;
using namespace archivon::test;

namespace {

// A run whose record goes to \a log, ending as its record's \a outcome says: stopped by
// the user, "terminato" and "rifiutato" for room, "bloccato" by another run's lock, which
// reports its end alone. Returns what reached standard error meanwhile.
QString recordARun(RunLog& log, const QString& outcome = "interrotto", int failures = 1, const RestoreReach& reach = {})
{
    QTemporaryFile caught;
    caught.open();
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(caught.handle(), 2);
    using Reason = RunEnd::Reason;
    const RunEnd end{.outcome = outcome == "rifiutato" || outcome == "bloccato" ? RunOutcome::Refused : RunOutcome::EndedEarly,
                     .reason = outcome == "interrotto" ? Reason::Stopped : outcome == "bloccato" ? Reason::Locked : Reason::NoSpace,
                     .failures = failures, .stoppedByUser = outcome == "interrotto", .versionDays = 30,
                     .versions = {{.root = kRoot + "\\Versioni precedenti", .folders = 3, .bytes = 1200, .unrecorded = 1,
                                   .removedByAge = {"2026-10-01 19.30.05"},
                                   .removedForSpace = {"2026-11-01 19.30.05", "2026-11-02 19.30.05"}}},
                     .reach = reach};
    for (const RunEvent& e : {RunEvent{.kind = Kind::Failure, .path = "C:\\fuori"}, // outside a run
                              RunEvent{.kind = Kind::RunStarted, .path = kRoot},
                              RunEvent{.kind = Kind::PairFinished, .pair = 1,
                                       .stats = {.copied = 2, .unchanged = 7, .removed = 3, .folders = 1,
                                                 .bytes = 40, .versioned = 4, .versionedBytes = 90, .milliseconds = 1500}},
                              RunEvent{.kind = Kind::Failure, .path = "C:\\x", .detail = "accesso negato"},
                              RunEvent{.kind = Kind::RunEnded, .end = end}}) {
        if ((e.kind == Kind::Failure && failures == 0) || (end.reason == Reason::Locked && e.kind != Kind::RunEnded))
            continue;
        log.report(e);
    }
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    caught.seek(0);
    return QString::fromLocal8Bit(caught.readAll());
}


} // namespace

class TestRecord : public QObject, public EngineFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { drives.reset(); }

    // The run's record (what it holds of a real run: e2e_unattended). Only this program's
    // logs are counted, and the oldest go first.
    void logKeepsTheLastThirty()
    {
        QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        drives->makeDir(kRoot);
        const QString dir = state.path() + "/archivon";
        QVERIFY(QDir().mkpath(dir));
        for (int i = 0; i < 35; ++i)
            QFile(dir + QStringLiteral("/archivon-20200101-0000%1-000.log").arg(i, 2, 10, QLatin1Char('0')))
                .open(QIODevice::WriteOnly);
        QFile(dir + "/note.txt").open(QIODevice::WriteOnly);
        RunLog log;
        recordARun(log);
        QFile record(log.path());
        QVERIFY(record.open(QIODevice::ReadOnly) && !record.readAll().contains("fuori"));
        const QStringList left = QDir(dir).entryList({"archivon-*.log"}, QDir::Files, QDir::Name);
        QCOMPARE(left.size(), RunLog::kKept);
        QCOMPARE(left.first(), QStringLiteral("archivon-20200101-000006-000.log"));
        QCOMPARE(dir + "/" + left.last(), log.path());
        QVERIFY(QFile::exists(dir + "/note.txt"));
    }

    // The record's summary line: the outcome in fixed words, and the last run of this
    // computer without failures, carried over from the previous record on R:. A run that
    // does not complete is never that run, even where it counts no failure, and --stato,
    // which reads the record on R:, still marks a computer whose last clean run is old.
    // How far back a restore can go, as the run found it, reads back as it was given.
    void logSummary_data()
    {
        QTest::addColumn<QString>("previous"); // the record on R: before the run; {clean}: ten days ago
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("failures");
        QTest::addColumn<QString>("lastClean");
        QTest::addColumn<QString>("reach"); // as the record writes it; empty: not worked out
        const QString clean = "Riepilogo: esito=completato; errori=0; inizio={clean}; ultimo-senza-errori={clean}";
        // clang-format off
        QTest::newRow("no record yet") << "" << "interrotto" << 1 << "" << "solo-attuale";
        QTest::newRow("failures before, a clean run earlier") << "Riepilogo: esito=con-errori; errori=2; inizio=2026-12-04T19:30:00+01:00; ultimo-senza-errori=2026-12-01T19:30:00+01:00" << "interrotto" << 1 << "2026-12-01T19:30:00+01:00" << "2026-12-02T20:41:12+01:00";
        QTest::newRow("an older version's clean record") << "Inizio: 2026-12-03 19:30:00\nEsito: completato senza errori; errori: 0; coppie saltate: 0" << "interrotto" << 1 << "2026-12-03T19:30:00" << "";
        QTest::newRow("an older version's stopped record") << "Inizio: 2026-12-03 19:30:00\nEsito: terminato prima della fine; errori: 0; coppie saltate: 0" << "interrotto" << 1 << "" << "";
        QTest::newRow("stopped, no failure") << clean << "interrotto" << 0 << "{clean}" << "2026-12-01T19:30:00+01:00";
        QTest::newRow("no room at a later pair, no failure") << clean << "terminato" << 0 << "{clean}" << "";
        QTest::newRow("no room for the first pair") << clean << "rifiutato" << 0 << "{clean}" << "";
        QTest::newRow("another run holds the lock: R: is not read") << clean << "bloccato" << 0 << "" << "";
        // clang-format on
    }
    void logSummary()
    {
        QFETCH(QString, previous);
        QFETCH(QString, outcome);
        QFETCH(int, failures);
        QFETCH(QString, lastClean);
        QFETCH(QString, reach);
        using K = RestoreReach::Kind;
        const QDateTime since = QDateTime::fromString(reach, Qt::ISODate);
        const RestoreReach given{reach.isEmpty() ? K::Unknown : reach == "solo-attuale" ? K::OnlyPresent : K::Since,
                                 since};
        const bool cleanBefore = previous.contains("{clean}");
        const QDateTime tenDaysAgo = QDateTime::currentDateTime().addDays(-10);
        const QString clean = tenDaysAgo.toOffsetFromUtc(tenDaysAgo.offsetFromUtc()).toString(Qt::ISODate);
        previous.replace("{clean}", clean);
        lastClean.replace("{clean}", clean);
        QTemporaryDir state;
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        if (!previous.isEmpty())
            drives->writeFile(kRoot + "\\archivon.log", ("Archivon 1.0: registro del backup\n" + previous + "\n").toUtf8());
        else
            drives->makeDir(kRoot);
        RunLog log;
        recordARun(log, outcome, failures, given);
        QFile local(log.path());
        QVERIFY(local.open(QIODevice::ReadOnly));
        const QByteArray text = local.readAll();
        QCOMPARE(read(kRoot + "\\archivon.log") == text, outcome != "bloccato"); // a refused start leaves R: as it was
        const RunRecord record = parseRunRecord(QString::fromUtf8(text));
        QVERIFY(record.summarised);
        QCOMPARE(record.outcome, outcome);
        QCOMPARE(record.failures, failures);
        QCOMPARE(record.bytesWritten, outcome == "bloccato" ? 0 : 40);
        QCOMPARE(record.versionBytes, 1200);
        QVERIFY(record.started.isValid() && record.ended >= record.started);
        const QDateTime expected = QDateTime::fromString(lastClean, Qt::ISODate);
        QCOMPARE(record.lastClean, expected);
        QVERIFY(text.contains("; ripristinabile-dal=" + reach.toUtf8() + "\n"));
        QCOMPARE(int(record.reach.kind), int(given.kind));
        QCOMPARE(record.reach.since, since);
        if (cleanBefore) {
            const SiteOverview site = readSiteOverview("R:\\BKPQORL", {}, 2, QDateTime::currentDateTime());
            QCOMPARE(site.computers.size(), 1);
            QCOMPARE(site.computers.first().lastClean, QDateTime::fromString(clean, Qt::ISODate));
            QVERIFY(site.anyMarked());
        }
    }

    // A record that can be written nowhere still reaches standard error whole.
    void logNothingSilentlyLost()
    {
        // A file where the state folder should be: no one can make the folder, not even root.
        QTemporaryFile blocker;
        QVERIFY(blocker.open());
        qputenv("XDG_STATE_HOME", QFile::encodeName(blocker.fileName()));
        RunLog log;
        const QString text = recordARun(log);
        for (const QString& expected : {
                 QStringLiteral("archivon: impossibile creare la cartella dei registri"),
                 QStringLiteral("archivon: impossibile copiare il registro in "
                                "R:\\BKPQORL\\PC7_ufficio2\\archivon.log"),
                 QStringLiteral("archivon: Coppia 1 copiata: 2 file, 1 cartelle, 40 byte in 1.5 s; file "
                                "invariati: 7, file eliminati: 3; spostati nelle versioni precedenti: 4 file, 90 byte\n"),
                 QStringLiteral("archivon: Versioni precedenti in R:\\BKPQORL\\PC7_ufficio2\\Versioni precedenti: 3 "
                                "cartelle, 1200 byte (più 1 cartella di dimensione non registrata)\n"),
                 QStringLiteral("archivon: Versioni eliminate perché più vecchie di 30 giorni: 2026-10-01 19.30.05\n"),
                 QStringLiteral("archivon: Versioni eliminate per fare spazio: 2026-11-01 19.30.05, 2026-11-02 19.30.05\n"),
                 QStringLiteral("archivon: Errore: C:\\x: accesso negato\n"),
                 QStringLiteral("archivon: Interrotto dall'utente.\n"),
                 QStringLiteral("archivon: backup terminato prima della fine (errori: 1, coppie "
                                "saltate: 0); registro: non scritto\n"),
             })
            QVERIFY2(text.contains(expected), qPrintable(expected + " in:\n" + text));
    }
};

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
