#include "app/unattended.h"
#include "plan/checks.h"
#include "plan/settings.h"

#include "forecast/dryrun.h"
#include "engine/engine.h"
#include "plan/plan.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/identity.h"
#include "platform/session.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace archivon {

namespace {

void toStderr(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    std::fprintf(stderr, "archivon: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

int dryRun(const QString& user, bool fullRewrite, bool shutdown)
{
    // Nothing is made, not even the default drive folder that a run makes first.
    if (qEnvironmentVariable("ARCHIVON_DRIVES").isEmpty() &&
        !QFileInfo::exists(platform::drivesFolder()))
        toStderr(QStringLiteral("La cartella dei dischi %1 non c'è: il backup la creerebbe, con "
                                "R: una cartella vuota di questo computer; la prova non la crea.")
                     .arg(platform::drivesFolder()));
    RunOptions options;
    options.fullRewrite = fullRewrite || fullRewriteConfigured();
    options.versionDays = versionDaysConfigured();
    const DryRun run = forecastRun(defaultPlan(platform::hostName(), user), options);
    if (!run.refusal.isEmpty())
        toStderr(run.refusal);
    QString text = describe(run);
    if (shutdown && run.exitStatus <= 1)
        text += QStringLiteral("Alla fine il backup chiederebbe lo spegnimento del computer.\n");
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return run.exitStatus;
}

void UnattendedPrompter::setLog(RunLog* log)
{
    m_log = log;
    if (m_log) {
        for (const auto& [text, label] : std::exchange(m_pending, {}))
            m_log->note(text, label);
    }
}

void UnattendedPrompter::note(const QString& text, const QString& label)
{
    if (m_log)
        m_log->note(text, label);
    else
        m_pending.append({text, label});
}

bool UnattendedPrompter::question(const QString& text, const QString&)
{
    note(text + QStringLiteral("\r\n(risposta: sì)"), QStringLiteral("Domanda"));
    return true;
}

void UnattendedPrompter::message(const QString& text, platform::BoxIcon, const QString&)
{
    note(text, QStringLiteral("Messaggio"));
    toStderr(text);
}

std::optional<QString> UnattendedPrompter::input(const QString& prompt, const QString& preset,
                                                 const QString&)
{
    note(prompt + QStringLiteral("\r\n(risposta: ") + preset + QLatin1Char(')'),
         QStringLiteral("Domanda"));
    return preset;
}

UnattendedRun::UnattendedRun(const QString& user, bool shutdown, bool fullRewrite)
    : m_user(user), m_shutdown(shutdown), m_fullRewrite(fullRewrite)
{
}

UnattendedRun::~UnattendedRun()
{
    m_engine.reset(); // stops a run the event loop left
    platform::setDefaultPrompter(nullptr);
}

void UnattendedRun::start()
{
    platform::setDefaultPrompter(&m_prompter);
    m_prompter.setLog(&m_log);
    QTimer::singleShot(0, this, [this] { begin(); });
}

void UnattendedRun::begin()
{
    // What every start does: the program folder's BACKUP, then the backup
    // folders the main window makes when it opens.
    (void)platform::makeFolder(
        platform::joinPath(platform::programFolder(), QStringLiteral("BACKUP")));
    const BackupPlan plan = defaultPlan(platform::hostName(), m_user);
    if (const QString refusal = localDriveRefusal(); !refusal.isEmpty()) {
        platform::inform(refusal);
        m_log.refused(refusal);
        return endProgram(2);
    }
    QString daysProblem;
    const int versionDays = versionDaysConfigured(&daysProblem);
    for (const QString& warning : {placeholderWarning(), daysProblem}) {
        if (!warning.isEmpty()) {
            m_log.note(warning, QStringLiteral("Avviso"));
            toStderr(warning);
        }
    }
    // A name the share refuses is told once, as the refusal, with nothing made.
    if (backupFolderNameRefusal(plan).isEmpty()) {
        if (const QString problem = makeBackupFolders(plan); !problem.isEmpty())
            platform::inform(problem);
    }
    if (const QString problem = checkPlan(plan); !problem.isEmpty()) {
        platform::inform(problem);
        m_log.refused(problem);
        return endProgram(2);
    }
    (void)platform::ask(confirmationQuestion(plan));
    m_engine = std::make_unique<BackupEngine>();
    connect(m_engine.get(), &BackupEngine::reported, this, &UnattendedRun::reported);
    RunOptions options;
    options.shutdownAtEnd = m_shutdown;
    options.fullRewrite = m_fullRewrite || fullRewriteConfigured();
    options.versionDays = versionDays;
    m_engine->start(plan, options);
}

void UnattendedRun::reported(const RunEvent& event)
{
    m_log.report(event);
    if (event.kind != RunEvent::Kind::RunEnded)
        return;
    if (!event.end.message.isEmpty())
        toStderr(event.end.message);
    // The record is written before the computer goes down.
    if (event.end.shutdownRequested) {
        platform::session().shutdownForced();
        platform::session().logoffForced();
    }
    endProgram(exitStatusFor(event.end));
}

void UnattendedRun::endProgram(int status)
{
    m_status = status;
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(); });
}

} // namespace archivon
