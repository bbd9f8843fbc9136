// Removals of replaced copies, going on beside the next pairs, and the
// removals a pair waits for.

#include "engine/enginerun.h"
#include "engine/removals.h"

namespace archivon {

using namespace platform;

void Removals::start(const QString& folder, bool version)
{
    BackgroundRemoval::Options options;
    options.gate = m_gate;
    m_removals.push_back({std::make_unique<BackgroundRemoval>(folder, options), version});
}

bool Removals::pending()
{
    settle();
    return !m_removals.empty();
}

// What the removal of a copy this run replaced could not remove is a failure
// of this run; the next runs only list it as still there.
void Removals::settle()
{
    for (auto it = m_removals.begin(); it != m_removals.end();) {
        if (!it->removal->waitFor(0)) {
            ++it;
            continue;
        }
        if (!it->removal->stopped()) {
            const QString what = it->version ? QStringLiteral("dalle versioni precedenti")
                                             : QStringLiteral("dal backup precedente");
            for (const BackgroundRemoval::Left& left : it->removal->left())
                m_failed(left.path, QStringLiteral("impossibile eliminare %1 (%2)")
                                        .arg(what, left.failure.error()));
        }
        it = m_removals.erase(it);
    }
}

void Removals::waitAll()
{
    for (const Removal& r : m_removals)
        r.removal->wait();
    settle();
}

void Removals::stop()
{
    for (const Removal& r : m_removals) {
        r.removal->stop();
        r.removal->wait();
    }
    m_removals.clear();
}

bool EngineRun::waitForRemovals(int N)
{
    phase(N, Phase::Cleaning);
    m_touched = true;
    m_removals.waitAll();
    return !state.stopRequested();
}

bool EngineRun::removeNow(int N, const QString& folder, bool leftIsFailure)
{
    phase(N, Phase::Cleaning);
    m_touched = true;
    BackgroundRemoval::Options options;
    options.gate = gate();
    BackgroundRemoval removal(folder, options);
    removal.wait();
    if (removal.stopped())
        return false;
    for (const BackgroundRemoval::Left& left : removal.left()) {
        if (leftIsFailure)
            fail(left.path, QStringLiteral("impossibile eliminare (%1)").arg(left.failure.error()));
        else
            passOver(left.path, QStringLiteral("impossibile eliminare (%1): resta da un'esecuzione "
                                               "precedente")
                                    .arg(left.failure.error()));
    }
    return true;
}

} // namespace archivon
