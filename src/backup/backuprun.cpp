#include "backup/backuprun.h"

#include "app/forms.h"
#include "fileservices/deltree.h"
#include "fileservices/queries.h"
#include "fileservices/texts.h"
#include "fileservices/treescan.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/prompter.h"
#include "platform/textfile.h"
#include "platform/yield.h"
#include "layout/autosizelabel.h"
#include "ui_Form1.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>

#include <optional>

namespace archivon {

using namespace platform;

namespace {

const QString kStart = QStringLiteral("Avvia Backup");
const QString kStop = QStringLiteral("Interrompi");
const QString kSelfCopy = QStringLiteral("Eh no!Non puoi copiare una cartella su se stessa!!!");
const QString kPendingCaption = QStringLiteral("Elenco cartelle ancora da copiare:");
// Beside a pair's destination: the new copy while it is built, the old one
// while it is removed.
const QString kFreshSuffix = QStringLiteral(".archivon-nuovo");
const QString kRetiredSuffix = QStringLiteral(".archivon-vecchio");
constexpr qint64 kForgetCachedFrom = 1024 * 1024;

QString withoutDoubleBackslashes(QString path)
{
    while (path.contains(QLatin1String("\\\\")))
        path.replace(QLatin1String("\\\\"), QLatin1String("\\"));
    return path;
}

bool isDrivePath(const QString& path)
{
    return path.size() >= 3 && path.at(0).isLetter() && path.at(0).unicode() < 128 &&
           path.at(1) == QLatin1Char(':') &&
           (path.at(2) == QLatin1Char('\\') || path.at(2) == QLatin1Char('/'));
}

// The host folder a path leads to, symlinks resolved as far as the folder
// exists, so that two spellings of one folder compare equal.
QString canonicalFolder(const QString& path)
{
    const auto resolved = resolve(path);
    if (!resolved)
        return QString();
    const auto root = driveRoot(resolved->drive);
    if (!root)
        return QString();
    QString existing = QFileInfo(*root).canonicalFilePath();
    QStringList rest = resolved->components;
    while (!rest.isEmpty()) {
        const QString next = existing + QLatin1Char('/') + rest.first();
        const QString canonical = QFileInfo(next).canonicalFilePath();
        if (canonical.isEmpty())
            break;
        existing = canonical;
        rest.removeFirst();
    }
    for (const QString& c : rest)
        existing += QLatin1Char('/') + c;
    return existing;
}

bool sameOrInside(const QString& a, const QString& b)
{
    const QString sa = a.endsWith(QLatin1Char('/')) ? a : a + QLatin1Char('/');
    const QString sb = b.endsWith(QLatin1Char('/')) ? b : b + QLatin1Char('/');
    return sa.startsWith(sb) || sb.startsWith(sa);
}

// Anything under that name, a link included, whether or not it leads anywhere.
bool exists(const QString& path) { return linkAttributes(path).ok(); }

} // namespace

BackupRun::BackupRun(Form1& form) : m_form(form) {}

void BackupRun::takePairs()
{
    const auto* ui = m_form.ui();
    const std::array<const QLineEdit*, 4> sources{ui->Text_sorgente1, ui->Text_sorgente2,
                                                  ui->Text_sorgente3, ui->Text_sorgente4};
    const std::array<const QLineEdit*, 4> destinations{
        ui->Text_destinazione1, ui->Text_destinazione2, ui->Text_destinazione3,
        ui->Text_destinazione4};
    for (int i = 0; i < 4; ++i)
        m_pairs[i] = {sources[i]->text(), destinations[i]->text()};
}

// While a run works on its pairs, the boxes it took them from stay as they were.
void BackupRun::setPairsEditable(bool editable)
{
    auto* ui = m_form.ui();
    for (QLineEdit* box : {ui->Text_sorgente1, ui->Text_sorgente2, ui->Text_sorgente3,
                           ui->Text_sorgente4, ui->Text_destinazione1, ui->Text_destinazione2,
                           ui->Text_destinazione3, ui->Text_destinazione4})
        box->setReadOnly(!editable);
}

void BackupRun::setStatus(const QString& text)
{
    m_form.ui()->Label_file_in_copia->setText(text);
    if (onStatus)
        onStatus(text);
}

void BackupRun::showAnimation(const QString& file)
{
    auto* picture = m_form.ui()->TMaxAni1;
    picture->setFile(dataFile(file));
    picture->start();
}

void BackupRun::fail(const QString& path, const QString& reason)
{
    m_failures.append({path, reason});
    m_form.ui()->List1->hide();
    if (listener)
        listener->failure(path, reason);
}

void BackupRun::skip(int N, const QString& source, const QString& reason)
{
    m_skipped.append({source, reason});
    if (listener)
        listener->pairSkipped(N, source, reason);
}

// A confirmed stop, or the main window closing.
bool BackupRun::stopping() const { return m_form.Interruzione || Forms::ending(); }

bool BackupRun::destinationLost(int N) const
{
    const auto where = resolve(m_pairs[N - 1].destination);
    return !where || !driveRoot(where->drive);
}

// Every numbered pair must name two real folders on drives, apart from each
// other and from every other pair, before anything is deleted.
QString BackupRun::checkPairs() const
{
    std::array<QString, 4> sources;
    std::array<QString, 4> destinations;
    for (int N = 1; N <= 4; ++N) {
        const QString& s = m_pairs[N - 1].source;
        const QString& d = m_pairs[N - 1].destination;
        if (s.trimmed().isEmpty())
            return QStringLiteral("Coppia %1: manca la cartella sorgente.").arg(N);
        if (d.trimmed().isEmpty())
            return QStringLiteral("Coppia %1: manca la cartella destinazione.").arg(N);
        if (!isDrivePath(s))
            return QStringLiteral("Coppia %1: la cartella sorgente \"%2\" non è un percorso "
                                  "completo con la lettera dell'unità (ad esempio C:\\Documenti).")
                .arg(N)
                .arg(s);
        if (!isDrivePath(d))
            return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" non è un percorso "
                                  "completo con la lettera dell'unità (ad esempio R:\\BKPQORL).")
                .arg(N)
                .arg(d);
        // "..\PC8_altro" in a user name would lead to another computer's backup.
        const QStringList parts = d.split(QRegularExpression(QStringLiteral("[\\\\/]")));
        if (parts.contains(QStringLiteral(".")) || parts.contains(QStringLiteral("..")))
            return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" non può contenere "
                                  "\".\" o \"..\" tra le sue cartelle.")
                .arg(N)
                .arg(d);
        const auto resolved = resolve(d);
        if (!resolved || resolved->components.isEmpty())
            return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" non può essere la "
                                  "radice di un'unità.")
                .arg(N)
                .arg(d);
        if (!driveRoot(resolved->drive))
            return QStringLiteral("L'unità di destinazione %1: non è disponibile!\r\n"
                                  "Controllare che sia collegata e riprovare.")
                .arg(resolved->drive);
        sources[N - 1] = canonicalFolder(s);
        destinations[N - 1] = canonicalFolder(d);
    }
    // A destination is emptied: it may hold no source and no other destination,
    // nor lie inside one.
    // One pass over the texts, so that a "%" in a typed folder stays as it is.
    const auto overlap = [this](int N, const QString& kind, int M) {
        return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" coincide con la "
                              "cartella %3 della coppia %4, la contiene o vi è contenuta.")
            .arg(QString::number(N), m_pairs[N - 1].destination, kind, QString::number(M));
    };
    for (int N = 1; N <= 4; ++N) {
        const QString& d = destinations[N - 1];
        if (d.isEmpty())
            continue;
        for (int M = 1; M <= 4; ++M) {
            const QString& s = sources[M - 1];
            if (!s.isEmpty() && sameOrInside(s, d))
                return M == N ? kSelfCopy : overlap(N, QStringLiteral("sorgente"), M);
            if (M > N && !destinations[M - 1].isEmpty() && sameOrInside(d, destinations[M - 1]))
                return overlap(N, QStringLiteral("destinazione"), M);
        }
    }
    return QString();
}

void BackupRun::refuse(const QString& message)
{
    inform(message);
    RunEnd end;
    end.status = message;
    endRun(end);
}

// Every end of a run passes here, refused starts included.
void BackupRun::endRun(RunEnd end)
{
    m_running = false;
    setPairsEditable(true);
    end.failures = int(m_failures.size());
    end.skipped = int(m_skipped.size());
    if (listener)
        listener->runEnded(end);
}

void BackupRun::Command3_Click()
{
    auto* ui = m_form.ui();

    if (ui->Command3->text() == kStop) {
        m_form.InPausa = true;
        if (m_copies)
            m_copies->setPaused(true); // nothing more is written while the user decides
        if (ask(QStringLiteral("Vuoi interrompere la copia?"))) {
            m_form.Interruzione = true;
            m_form.Timer_stima.stop();
            setStatus(QStringLiteral("Interrotto dall'utente!"));
            ui->Command3->setText(kStart);
        } else {
            m_form.InPausa = false;
            if (m_copies)
                m_copies->setPaused(false);
        }
        return;
    }

    // A stopped run may still be unwinding inside this very click's yield.
    if (m_running)
        return;

    m_form.InPausa = false;
    m_form.Interruzione = false;
    m_form.SecondiTrascorsi = 0;

    if (ui->Text_sorgente->text() == ui->Text_destinazione->text()) {
        refuse(kSelfCopy);
        return;
    }
    // The run works on the pairs as they are now, whatever is typed later.
    takePairs();
    if (const QString problem = checkPairs(); !problem.isEmpty()) {
        refuse(problem);
        return;
    }
    if (!ui->Text_destinazione->text().endsWith(QLatin1Char('\\')))
        ui->Text_destinazione->setText(ui->Text_destinazione->text() + QLatin1Char('\\'));

    const QString backupRoot = QStringLiteral("R:\\BKPQORL\\") + ui->NomePc->text() +
                               QLatin1Char('_') + ui->Nome_utente->text();
    const QString question =
        QStringLiteral("Sei sicuro di voler avviare la copia?\r\n"
                       "Quest'operazione sovrascriverà tutti i dati presenti in \r\n") +
        backupRoot + QStringLiteral("\r\nL'operazione potrebbe richiedere alcuni minuti");
    if (!ask(question)) {
        endRun({});
        return;
    }

    m_running = true;
    m_touched = false;
    m_failures.clear();
    m_skipped.clear();
    setPairsEditable(false);
    if (listener)
        listener->runStarted(backupRoot);
    // The list and its caption go back to the folders still to copy.
    if (m_listShowsFailures) {
        ui->List1->clear();
        ui->Label7->setText(kPendingCaption);
        m_listShowsFailures = false;
    }
    ui->Command1->setEnabled(false);
    ui->Command2->setEnabled(false);
    ui->Command3->setText(kStop);

    for (int N = 1; N <= 4; ++N) {
        if (stopping()) {
            endStopped();
            return;
        }
        const Pair pair = m_pairs[N - 1];
        const auto sourceAttrs = attributes(pair.source);
        if (!sourceAttrs || !(*sourceAttrs & Directory)) {
            // Its old backup stays: nothing of this pair is touched.
            skip(N, pair.source,
                 QStringLiteral("cartella sorgente inesistente: coppia saltata, il backup "
                                "precedente è rimasto"));
            continue;
        }
        // A source that cannot be read is not an empty one: its old backup stays.
        if (DirSearch probe(joinPath(pair.source, QStringLiteral("*.*")), 0); !probe.ok()) {
            fail(pair.source, QStringLiteral("impossibile leggere la cartella sorgente (%1): "
                                             "coppia saltata, il backup precedente è rimasto")
                                  .arg(probe.error()));
            continue;
        }
        const auto free = ShowFreeSpace(pair.destination.left(3));
        if (!free) {
            endDestinationLost(N);
            return;
        }
        m_form.SpazioLibero = *free;
        // This pair's own size, as far as it can be read.
        m_form.DimensioneSorgente = ShowFolderInfo(pair.source).valueOr(0);
        ui->Lbl_dim_tot->setText(QStringLiteral("Dimensione da copiare : ") +
                                 Scrividimensione(double(*m_form.DimensioneSorgente)));
        if (*m_form.SpazioLibero < *m_form.DimensioneSorgente) {
            waitForRemovals();
            inform(QStringLiteral("Spazio insufficiente per completare l'operazione!"));
            showFailureList(); // what earlier pairs could not do
            backToIdle();
            RunEnd end;
            end.outcome = m_touched ? RunOutcome::EndedEarly : RunOutcome::Refused;
            end.status = QStringLiteral("Spazio insufficiente per completare l'operazione!");
            endRun(end);
            return;
        }
        if (listener)
            listener->pairStarted(N, pair.source, pair.destination);
        QElapsedTimer passTime;
        passTime.start();
        if (CopiaCoppia(N) == PassEnd::RunEnded) {
            if (destinationLost(N))
                endDestinationLost(N);
            else
                endStopped();
            return;
        }
        if (listener)
            listener->pairFinished(N, m_passFiles, ui->List_cartelle->count(), m_passBytes,
                                   passTime.elapsed());
    }
    complete();
}

void BackupRun::backToIdle()
{
    auto* ui = m_form.ui();
    m_form.Timer_stima.stop();
    ui->Command3->setText(kStart);
    ui->Command1->setEnabled(true);
    ui->Command2->setEnabled(true);
}

// The list under "Elementi non copiati:" names every failure and every pair
// left alone, each with its reason.
void BackupRun::showFailureList()
{
    auto* ui = m_form.ui();
    if (m_failures.isEmpty() && m_skipped.isEmpty())
        return;
    ui->Label7->setText(QStringLiteral("Elementi non copiati:"));
    ui->List1->clear();
    m_listShowsFailures = true;
    for (const QList<BackupFailure>* list : {&m_failures, &m_skipped}) {
        for (const BackupFailure& f : *list)
            ui->List1->addItem(f.path + QStringLiteral(" : ") + f.reason);
    }
    ui->Label7->show();
    ui->List1->show();
}

// A confirmed stop or a closed window: the run ends where it is, with no
// marker and no shutdown.
void BackupRun::endStopped()
{
    waitForRemovals();
    m_form.Timer_stima.stop();
    setStatus(QStringLiteral("Interrotto dall'utente!"));
    showFailureList();
    RunEnd end;
    end.outcome = RunOutcome::EndedEarly;
    end.stoppedByUser = m_form.Interruzione;
    end.windowClosed = Forms::ending();
    end.status = m_form.ui()->Label_file_in_copia->text();
    endRun(end);
}

// The destination drive went away (a network drive disconnected): nothing more
// can be written, so the run ends and says so.
void BackupRun::endDestinationLost(int N)
{
    const auto where = resolve(m_pairs[N - 1].destination);
    const QString drive = where ? QString(where->drive) : m_pairs[N - 1].destination.left(1);
    const QString text = QStringLiteral("L'unità di destinazione %1: non è più disponibile: "
                                        "backup interrotto!")
                             .arg(drive);
    waitForRemovals();
    fail(m_pairs[N - 1].destination, QStringLiteral("unità di destinazione non disponibile"));
    setStatus(text);
    showFailureList();
    backToIdle();
    inform(text);
    RunEnd end;
    end.outcome = m_touched ? RunOutcome::EndedEarly : RunOutcome::Refused;
    end.status = text;
    endRun(end);
}

void BackupRun::complete()
{
    waitForRemovals();
    auto* ui = m_form.ui();
    ui->Barra_totale->setValue(ui->Barra_totale->max());
    ui->Barra_file->setValue(ui->Barra_file->max());
    m_form.Timer_stima.stop();
    ui->Label7->hide();
    ui->List1->hide();

    // The marker goes through a temporary file, so a failed write keeps the old one.
    const QString markerPath = programFolder() + QStringLiteral("\\oldimp.pvx");
    const Status marker = writeTextFile(markerPath, {m_pairs[0].source, m_pairs[0].destination});
    if (!marker)
        fail(markerPath, QStringLiteral("impossibile scrivere il file (%1)").arg(marker.error()));

    // Nothing may claim success when something was left behind: the list
    // names each failure with its reason. Pairs left alone are not failures.
    QString status;
    if (m_failures.isEmpty())
        status = QStringLiteral("Operazione completata con successo!");
    else if (m_failures.size() == 1)
        status = QStringLiteral("Operazione completata con 1 errore: un elemento non è "
                                "stato copiato (vedere l'elenco).");
    else
        status = QStringLiteral("Operazione completata con %1 errori: alcuni elementi non "
                                "sono stati copiati (vedere l'elenco).")
                     .arg(m_failures.size());
    if (m_skipped.size() == 1)
        status += QStringLiteral(" Saltata 1 cartella sorgente inesistente.");
    else if (m_skipped.size() > 1)
        status += QStringLiteral(" Saltate %1 cartelle sorgente inesistenti.").arg(m_skipped.size());
    setStatus(status);
    showFailureList();
    ui->Command3->setText(kStart);

    ui->TMaxAni1->hide();
    ui->Command1->setEnabled(true);
    ui->Command2->setEnabled(true);
    const bool shutdown = ui->Check1->isChecked();
    // The record is written before the computer goes down.
    RunEnd end;
    end.outcome = RunOutcome::Completed;
    end.status = status;
    end.markerWritten = marker.ok();
    end.markerError = marker.ok() ? QString() : marker.error();
    end.shutdownRequested = shutdown;
    endRun(end);
    if (shutdown)
        m_form.Spegni_PC();
}

// While files are copied the window gets a turn every yieldEveryMs, so that it
// repaints, the estimate ticks and a stop click is answered, without paying a
// yield for every small file.
void BackupRun::maybeYield()
{
    if (!m_sinceYield.isValid() || m_sinceYield.elapsed() >= yieldEveryMs) {
        platform::yield();
        m_sinceYield.restart();
    }
}

// True when the run must end here: a confirmed stop, or the window closing.
// Made before every file and between chunks of a large one, where a stop
// abandons the file (the copy removes what it had written).
bool BackupRun::stopCheck()
{
    maybeYield();
    while (m_form.InPausa && !stopping())
        platform::yield();
    return stopping();
}

// Whatever the removal had to leave in a destination is reported, file by file.
void BackupRun::recordLeftovers(const QString& folder)
{
    DirSearch search(joinPath(folder, QStringLiteral("*.*")), 55);
    QStringList folders;
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        const QString path = joinPath(folder, name);
        const auto attrs = linkAttributes(path);
        if (attrs && (*attrs & Directory))
            folders << path;
        else
            m_failures.append(
                {path, QStringLiteral("impossibile eliminare il file dal backup precedente")});
    }
    for (const QString& sub : folders)
        recordLeftovers(sub);
}

namespace {

// Shows the scan on the main window's bar and labels. A big tree is walked
// far faster than anyone can read, so the controls are written at most every
// 50 ms and once more at the end: the yield after each folder then seldom has
// anything to repaint.
class WindowScanObserver final : public ScanObserver
{
public:
    WindowScanObserver(Form1& form, std::function<bool()> stop,
                       std::function<void(const QString&, const QString&)> lost)
        : m_form(form), m_stop(std::move(stop)), m_lost(std::move(lost))
    {
    }
    bool stopRequested() override { return m_stop(); }
    void notListed(const QString& path, const QString& reason) override { m_lost(path, reason); }
    void started() override
    {
        m_form.setCursor(Qt::WaitCursor);
        auto* bar = m_form.ui()->Barra_totale;
        bar->setMin(1);
        bar->setMax(2);
        bar->setValue(1);
        m_sinceWrite.start();
    }
    void folderFound(qint64 known) override
    {
        m_known = known;
        maybeWrite();
    }
    void folderVisited(qint64 visited) override
    {
        m_visited = visited;
        maybeWrite();
    }
    void finished() override
    {
        write();
        m_form.unsetCursor();
    }

private:
    void maybeWrite()
    {
        if (m_sinceWrite.elapsed() >= 50) {
            write();
            m_sinceWrite.restart();
        }
    }
    void write()
    {
        auto* ui = m_form.ui();
        if (m_known) {
            ui->Barra_totale->setMax(float(*m_known));
            ui->Lbl_file_totali->setText(QString::number(*m_known));
        }
        if (m_visited) {
            ui->Barra_totale->setValue(float(*m_visited));
            ui->Lbl_file_copiati->setText(QString::number(*m_visited));
            ui->Lbl_visitati->setText(QString::number(*m_visited));
        }
        m_known.reset();
        m_visited.reset();
    }

    Form1& m_form;
    std::function<bool()> m_stop;
    std::function<void(const QString&, const QString&)> m_lost;
    QElapsedTimer m_sinceWrite;
    std::optional<qint64> m_known;
    std::optional<qint64> m_visited;
};

} // namespace

void BackupRun::Sottocartelle(QString& Percorso)
{
    auto* list = m_form.ui()->List_cartelle;
    QStringList folders;
    for (int i = 0; i < list->count(); ++i)
        folders << list->item(i)->text();
    WindowScanObserver observer(
        m_form, [this] { return stopping(); },
        [this](const QString& path, const QString& reason) { fail(path, reason); });
    m_form.NumeroFile = archivon::Sottocartelle(folders, Percorso, &observer);
    // The hidden list box takes the folders the scan appended.
    for (qsizetype i = list->count(); i < folders.size(); ++i)
        list->addItem(folders.at(i));
}

std::optional<BackupRun::Beside> BackupRun::besideOf(const QString& destination)
{
    const auto where = resolve(destination);
    if (!where || where->components.isEmpty())
        return std::nullopt;
    DrivePath parent = *where;
    const QString name = parent.components.takeLast();
    const QString folder = parent.toString();
    return Beside{where->toString(), joinPath(folder, QLatin1Char('.') + name + kFreshSuffix),
                  joinPath(folder, QLatin1Char('.') + name + kRetiredSuffix)};
}

// What an earlier run left beside the destination when it was stopped, killed
// or cut off: a new copy it never finished, or an old one it had not removed
// yet. The last complete backup is kept whatever the order of events was.
// False when the pair cannot go on (a stop, or a copy that cannot be restored).
bool BackupRun::sortOutLeftovers(const Beside& b)
{
    if (exists(b.retired) && !exists(b.target)) {
        // Cut off between the two renames: the new copy was complete then.
        const QString complete = exists(b.fresh) ? b.fresh : b.retired;
        if (const Status moved = moveEntry(complete, b.target); !moved) {
            fail(b.target, QStringLiteral("impossibile rimettere al suo posto il backup lasciato "
                                          "da un'esecuzione interrotta (%1)")
                               .arg(moved.error()));
            return false;
        }
    }
    for (const QString& leftover : {b.fresh, b.retired}) {
        QString scratch = leftover;
        if (exists(leftover) && !DelTree(scratch, [this] { return stopping(); }))
            return false;
    }
    return true;
}

// The new copy is complete: it takes the destination's name, and only then is
// the old one removed. A rename that fails keeps the old backup where it was.
void BackupRun::putInPlace(const QString& D, const Beside& b)
{
    const bool hadOld = exists(b.target);
    Status moved;
    if (hadOld)
        moved = moveEntry(b.target, b.retired);
    if (moved) {
        moved = moveEntry(b.fresh, b.target);
        if (!moved)
            (void)moveEntry(b.retired, b.target);
    }
    if (!moved) {
        fail(D, QStringLiteral("impossibile sostituire il backup precedente (%1): è rimasto quello")
                    .arg(moved.error()));
        QString scratch = b.fresh;
        DelTree(scratch, [this] { return stopping(); });
        return;
    }
    // The old copy goes on a thread of its own, while the next pair copies.
    if (hadOld)
        m_removals.push_back(std::make_unique<BackgroundRemoval>(b.retired));
}

// The run ends once the old backups it replaced are gone. After a stop or a
// closed window they are left where they are, for the next run to finish.
void BackupRun::waitForRemovals()
{
    for (const auto& removal : m_removals) {
        while (!removal->waitFor(50)) {
            platform::yield();
            if (stopping())
                removal->stop();
        }
        if (!removal->stopped() && exists(removal->folder()))
            recordLeftovers(removal->folder());
    }
    m_removals.clear();
}

BackupRun::PassEnd BackupRun::CopiaCoppia(int N)
{
    auto* ui = m_form.ui();
    if (!m_running)
        takePairs();
    const QString S = m_pairs[N - 1].source;
    const QString D = m_pairs[N - 1].destination;
    m_passFiles = 0;
    m_passBytes = 0;
    const auto beside = besideOf(D);
    if (!beside) {
        fail(D, driveNotReadyReason());
        return PassEnd::Finished;
    }
    // The new mirror is built here; the old backup keeps D's name until the
    // new one is complete.
    const QString fresh = beside->fresh;
    // True when nothing more can be written: the drive is gone, or full.
    const auto writeFailed = [&](const QString& path, const QString& reason) {
        if (destinationLost(N))
            return true;
        fail(path, reason);
        return isDiskFullReason(reason);
    };
    const auto endOfPass = [&] {
        if (stopping() || destinationLost(N))
            return PassEnd::RunEnded; // the next run clears the partial copy
        fail(D, QStringLiteral("spazio su disco esaurito: backup non completato, è rimasto "
                               "quello precedente"));
        QString scratch = fresh;
        DelTree(scratch, [this] { return stopping(); });
        return stopping() ? PassEnd::RunEnded : PassEnd::Finished;
    };

    // Cleaning and scan.
    showAnimation(QStringLiteral("anim2.gif"));
    m_form.NumeroFile = 0;
    setStatus(QStringLiteral("Pulizia cartella di destinazione in corso..."));
    ui->List1->show();
    ui->Label7->show();
    m_touched = true;
    if (!sortOutLeftovers(*beside))
        return stopping() ? PassEnd::RunEnded : PassEnd::Finished;
    setStatus(QStringLiteral("Creazione cartella in corso in corso..."));
    if (const Status made = makeFolder(fresh); !made) {
        if (destinationLost(N))
            return PassEnd::RunEnded;
        fail(D, made.error()); // nowhere to build: the old backup stays
        return PassEnd::Finished;
    }
    setStatus(QStringLiteral("Analisi in corso..."));
    ui->List_cartelle->clear();
    ui->List_cartelle->addItem(S);
    ui->List1->addItem(S);
    {
        QString scratch = S;
        Sottocartelle(scratch);
    }
    if (stopping())
        return PassEnd::RunEnded;
    m_form.Timer_stima.start();
    ui->Barra_file->setMin(0);
    ui->Barra_file->setMax(float(m_form.NumeroFile + 1));
    ui->Lbl_file_da_copiare->setText(QString::number(m_form.NumeroFile));
    const int entries = ui->List_cartelle->count();
    ui->Lbl_n_cartelle->setText(QString::number(entries - 1));
    ui->LBL_trovati->hide();
    ui->Lbl_visitati->hide();

    auto relative = [&](int k) { return QString(ui->List_cartelle->item(k)->text()).remove(S); };

    // Folder creation, parents first since the list is breadth-first.
    for (int i = 1; i < entries; ++i) {
        if (!ui->Barra_totale->setValue(float(i)))
            ui->List1->hide();
        const QString tail = QLatin1Char('\\') + relative(i);
        if (const Status made = makeFolder(withoutDoubleBackslashes(fresh + tail));
            !made && writeFailed(withoutDoubleBackslashes(D + tail), made.error()))
            return endOfPass();
        ui->List1->addItem(ui->List_cartelle->item(i)->text());
        ui->Lbl_file_copiati->setText(QString::number(i));
    }

    // Copy set-up.
    const AutoSizeLabel::DeferFitting quickCaptions;
    showAnimation(QStringLiteral("anim.gif"));
    ui->List1->show();
    m_form.Timer_stima.start();
    ui->Lbl_visitati->setText(QStringLiteral("0"));
    ui->Barra_totale->setMin(0);
    ui->Barra_totale->setMax(float(ui->Lbl_n_cartelle->text().toLongLong() + 1));
    ui->Barra_file->setValue(0);
    ui->Barra_totale->setValue(0);
    ui->Lbl_file_totali->setText(ui->Lbl_file_da_copiare->text());

    // The files are copied two at a time beside this loop, which names each
    // one as it hands it over and counts it once its copy has ended.
    ParallelCopy copies;
    m_copies = &copies;
    const auto noLongerHeld = qScopeGuard([this] { m_copies = nullptr; });
    const auto countEnded = [&] {
        auto* bar = ui->Barra_file;
        if (bar->max() > bar->value())
            bar->setValue(bar->value() + 1);
        ui->Lbl_file_copiati->setText(QString::number(qint64(bar->value())));
    };
    // Counts the copies that ended; says how the pass ends when one of them ends it.
    const auto settle = [&]() -> std::optional<PassEnd> {
        for (const ParallelCopy::Ended& ended : copies.takeEnded()) {
            if (ended.status) {
                ++m_passFiles;
                m_passBytes += ended.size;
            } else if (stopping() || writeFailed(ended.source, ended.status.error())) {
                copies.abandon();
                return endOfPass();
            }
            countEnded();
        }
        return std::nullopt;
    };
    // Waits until another copy can be handed over, or until all have ended.
    const auto waitForCopies = [&](bool all) -> std::optional<PassEnd> {
        for (;;) {
            if (stopCheck()) {
                copies.abandon();
                return PassEnd::RunEnded;
            }
            // Whatever has ended by the time nothing is busy is settled here.
            const bool allEnded = !copies.busy();
            if (const auto end = settle())
                return end;
            if (all ? allEnded : copies.hasRoom())
                return std::nullopt;
            copies.waitFor(50);
        }
    };

    m_sinceYield.restart();
    for (int j = 0; j < entries; ++j) {
        auto* totale = ui->Barra_totale;
        if (!totale->setValue(float(j + 1)))
            ui->List1->hide();
        ui->List_cartelle->setCurrentRow(j);
        if (ui->List1->count() > 0)
            delete ui->List1->takeItem(0);
        else
            ui->List1->hide();

        const QString folder = ui->List_cartelle->item(j)->text();
        const QString tail = QLatin1Char('\\') + relative(j) + QLatin1Char('\\');
        DirSearch search(folder + QStringLiteral("\\*.*"), 0);
        for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
            if (const auto end = waitForCopies(false))
                return *end;
            const QString source = withoutDoubleBackslashes(folder + QLatin1Char('\\') + name);
            // Shown under the name the copy will have once it is complete.
            const QString destination = withoutDoubleBackslashes(D + tail + name);
            setStatus(QStringLiteral("Copia in corso del file ") + source + QStringLiteral(" in ") +
                      destination + QStringLiteral(" ..."));
            const auto size = Dimensionefile(source);
            // The old backup's copy of this file is about to go: the memory it
            // holds serves the new one, which is far quicker than fresh memory.
            // For a small file, opening the old copy costs more than it saves.
            if (size && *size >= kForgetCachedFrom)
                forgetCachedContent(destination);
            if (const Status started =
                    copies.start(source, withoutDoubleBackslashes(fresh + tail + name));
                !started) {
                if (stopping() || writeFailed(source, started.error())) {
                    copies.abandon();
                    return endOfPass();
                }
                countEnded();
            }
            if (size)
                ui->Lbl_dim_file->setText(QStringLiteral("Dimensione file : ") +
                                          Scrividimensione(double(*size)));
            else
                ui->List1->hide();
        }
        // What could not be listed is not copied: each is named, with why.
        for (const auto& lost : search.uncarried())
            fail(withoutDoubleBackslashes(folder + QLatin1Char('\\') + lost.name), lost.reason);
        if (!search.ok())
            fail(folder, QStringLiteral("impossibile leggere la cartella (%1)").arg(search.error()));
        ui->Lbl_visitati->setText(QString::number(ui->Lbl_visitati->text().toLongLong() + 1));
        totale->setValue(std::min(totale->value() + 1, totale->max()));
    }
    if (const auto end = waitForCopies(true))
        return *end;
    putInPlace(D, *beside);
    if (!m_running) // a pass by itself ends with its old copy gone
        waitForRemovals();
    return stopping() ? PassEnd::RunEnded : PassEnd::Finished;
}

} // namespace archivon
