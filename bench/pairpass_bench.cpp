// Times one pair of a backup run: bench/run compares it with cp -a.
//
// Usage: pairpass_bench DRIVES_FOLDER SOURCE DESTINATION
// DRIVES_FOLDER maps the drives; SOURCE and DESTINATION are Windows-form paths on them.
// The engine runs with no window, as an unattended run does, on a plan whose
// other three sources are missing. Prints the seconds from the pair's start
// to the end of the run (the old copy removed), and the failures if any.

#include "engine/engine.h"
#include "plan/checks.h"
#include "platform/prompter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <mutex>

using namespace archivon;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        QTextStream(stderr) << "usage: pairpass_bench DRIVES_FOLDER SOURCE DESTINATION\n";
        return 2;
    }
    qputenv("ARCHIVON_DRIVES", argv[1]);
    platform::ScriptedPrompter boxes; // nothing should ask anything
    platform::setPrompter(&boxes);

    BackupPlan plan;
    plan.pairs[0] = {QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])};
    for (int n = 2; n <= 4; ++n)
        plan.pairs[n - 1] = {QStringLiteral("C:\\archivon-bench-manca-%1").arg(n),
                             plan.pairs[0].destination.left(3) +
                                 QStringLiteral("archivon-bench-manca-%1").arg(n)};
    if (const QString problem = checkPlan(plan); !problem.isEmpty()) {
        QTextStream(stderr) << problem << "\n";
        return 2;
    }

    QElapsedTimer timer;
    timer.start();
    std::mutex mutex;
    qint64 pairStart = -1;
    qint64 phaseStart = 0;
    QString phaseName;
    QStringList failures;
    RunEnd end;
    BackupEngine engine;
    // Where the time goes, phase by phase, on standard error.
    QObject::connect(
        &engine, &BackupEngine::reported, &engine,
        [&](const RunEvent& e) {
            const std::lock_guard lock(mutex);
            const qint64 now = timer.nsecsElapsed();
            const auto endPhase = [&](const QString& next) {
                if (!phaseName.isEmpty())
                    QTextStream(stderr) << "  " << phaseName << ": " << (now - phaseStart) / 1000000
                                        << " ms\n";
                phaseName = next;
                phaseStart = now;
            };
            switch (e.kind) {
            case RunEvent::Kind::PairStarted:
                pairStart = now;
                break;
            case RunEvent::Kind::Phase:
                endPhase(QString::number(int(e.phase)));
                break;
            case RunEvent::Kind::Failure:
                failures << e.path + " : " + e.detail;
                break;
            case RunEvent::Kind::RunEnded:
                endPhase({});
                end = e.end;
                break;
            default:
                break;
            }
        },
        Qt::DirectConnection);
    BackupEngine::Options options;
    options.fullRewrite = true;
    engine.start(plan, options);
    engine.wait();
    const double seconds = double(timer.nsecsElapsed() - pairStart) / 1e9;

    QTextStream(stdout) << QString::number(seconds, 'f', 3) << "\n";
    for (const QString& f : failures)
        QTextStream(stderr) << f << "\n";
    return end.reason == RunEnd::Reason::Completed && failures.isEmpty() && boxes.shown.isEmpty() ? 0 : 1;
}
