// The ends of a run: stopped, short of space, its destination lost, or
// complete with the marker of the first pair; each says how, once.

#include "engine/enginerun.h"

#include "platform/drives.h"
#include "platform/textfile.h"
#include "versions/reach.h"

namespace archivon {

using namespace platform;

namespace {

const QString kStopped = QStringLiteral("Interrotto dall'utente!");
const QString kNoSpace = QStringLiteral("Spazio insufficiente per completare l'operazione!");

QString completionText(int failures, int skipped)
{
    QString status;
    if (failures == 0)
        status = QStringLiteral("Operazione completata con successo!");
    else if (failures == 1)
        status = QStringLiteral("Operazione completata con 1 errore: un elemento non è "
                                "stato copiato (vedere l'elenco).");
    else
        status = QStringLiteral("Operazione completata con %1 errori: alcuni elementi non "
                                "sono stati copiati (vedere l'elenco).")
                     .arg(failures);
    if (skipped == 1)
        status += QStringLiteral(" Saltata 1 cartella sorgente inesistente.");
    else if (skipped > 1)
        status += QStringLiteral(" Saltate %1 cartelle sorgente inesistenti.").arg(skipped);
    return status;
}

} // namespace

void EngineRun::finish(RunEnd end)
{
    if (m_lock.held()) {
        endList(end);
        closeVersions(end);
        end.reach = versions::reachOfBackup(m_plan.backupRoot()).reachable();
    }
    state.end();
    m_lock.release();
    end.failures = m_failures;
    end.skipped = m_skipped;
    RunEvent e;
    e.kind = RunEvent::Kind::RunEnded;
    e.end = end;
    report(e);
}

// A confirmed stop or a closed window: the run ends where it is, with no
// marker and no shutdown. What an old copy's removal had not done yet is left
// for the next run.
void EngineRun::endStopped()
{
    state.stop();
    m_removals.stop();
    RunEnd end;
    end.outcome = RunOutcome::EndedEarly;
    end.reason = RunEnd::Reason::Stopped;
    end.windowClosed = windowClosed;
    end.stoppedByUser = !windowClosed;
    end.status = kStopped;
    finish(end);
}

void EngineRun::endNoSpace()
{
    RunEnd end;
    end.outcome = earlyEnd(m_touched);
    end.reason = RunEnd::Reason::NoSpace;
    end.status = kNoSpace;
    end.message = kNoSpace;
    finish(end);
}

// The destination drive went away (a network drive disconnected): nothing more
// can be written, so the run ends and says so.
void EngineRun::endDestinationLost(int N)
{
    m_removals.stop();
    const QString& destination = m_plan.pairs[N - 1].destination;
    const auto where = resolve(destination);
    const QString drive = where ? QString(where->drive) : destination.left(1);
    const QString text = QStringLiteral("L'unità di destinazione %1: non è più disponibile: "
                                        "backup interrotto!")
                             .arg(drive);
    fail(destination, QStringLiteral("unità di destinazione non disponibile"));
    RunEnd end;
    end.outcome = earlyEnd(m_touched);
    end.reason = RunEnd::Reason::DestinationLost;
    end.status = text;
    end.message = text;
    finish(end);
}

void EngineRun::complete()
{
    m_removals.settle();
    RunEnd end;
    end.outcome = RunOutcome::Completed;
    end.reason = RunEnd::Reason::Completed;
    if (m_pairsDone == 0) {
        // Nothing was backed up: at least one failure, and no marker of a
        // completed backup.
        const QString why =
            m_sourceDriveMissing.isNull()
                ? QStringLiteral("nessuna cartella sorgente è stata copiata")
                : QStringLiteral("l'unità %1: non è disponibile, nessuna cartella è stata copiata")
                      .arg(m_sourceDriveMissing);
        if (m_failures == 0)
            fail(m_plan.backupRoot(), QStringLiteral("backup non eseguito: ") + why);
        end.status = QStringLiteral("Backup non eseguito: %1 (vedere l'elenco).").arg(why);
        end.shutdownRequested = shutdownAtEnd;
        return finish(end);
    }
    // The marker goes through a temporary file, so a failed write keeps the old one.
    const QString markerPath = programFolder() + QStringLiteral("\\oldimp.pvx");
    const Status marker =
        writeTextFile(markerPath, {m_typedFirstPair.source, m_typedFirstPair.destination});
    if (!marker)
        fail(markerPath, QStringLiteral("impossibile scrivere il file (%1)").arg(marker.error()));
    // Nothing may claim success when something was left behind.
    end.status = completionText(m_failures, m_skipped);
    end.markerWritten = marker.ok();
    end.markerError = marker.ok() ? QString() : marker.error();
    end.shutdownRequested = shutdownAtEnd;
    finish(end);
}

} // namespace archivon
