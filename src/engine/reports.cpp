// The run's reports, in the order things happen: each goes to the engine's
// listeners as it is made.

#include "engine/enginerun.h"

namespace archivon {

void EngineRun::report(RunEvent event)
{
    emit m_owner.reported(event);
}

void EngineRun::phase(int N, Phase phase)
{
    RunEvent e;
    e.kind = RunEvent::Kind::Phase;
    e.pair = N;
    e.phase = phase;
    e.path = m_plan.pairs[N - 1].source;
    report(e);
}

void EngineRun::fail(const QString& path, const QString& reason, qint64 count)
{
    m_failures += int(std::max<qint64>(count, 1));
    RunEvent e;
    e.kind = RunEvent::Kind::Failure;
    e.path = path;
    e.detail = reason;
    report(e);
}

void EngineRun::passOver(const QString& path, const QString& reason)
{
    RunEvent e;
    e.kind = RunEvent::Kind::PassedOver;
    e.path = path;
    e.detail = reason;
    report(e);
}

void EngineRun::notice(const QString& text)
{
    RunEvent e;
    e.kind = RunEvent::Kind::Notice;
    e.detail = text;
    report(e);
}

void EngineRun::skip(int N, const QString& source, const QString& reason)
{
    ++m_skipped;
    RunEvent e;
    e.kind = RunEvent::Kind::PairSkipped;
    e.pair = N;
    e.path = source;
    e.detail = reason;
    report(e);
}

void EngineRun::reportStart()
{
    RunEvent started;
    started.kind = RunEvent::Kind::RunStarted;
    started.path = m_plan.backupRoot();
    started.folders = {m_plan.computer, m_plan.user};
    started.detail = m_options.fullRewrite
                         ? QStringLiteral("completa, ogni file riscritto")
                         : QStringLiteral("aggiornamento dei soli file nuovi o cambiati");
    report(started);
    if (m_tookOver) {
        const LockOwner& was = *m_tookOver;
        notice(QStringLiteral("un'esecuzione precedente (computer %1, processo %2, avviata il %3) "
                              "era terminata senza liberare la cartella: il suo blocco è stato "
                              "rimosso")
                   .arg(was.host.isEmpty() ? QStringLiteral("?") : was.host)
                   .arg(was.pid)
                   .arg(was.started.isValid()
                            ? was.started.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"))
                            : QStringLiteral("?")));
    }
}

} // namespace archivon
