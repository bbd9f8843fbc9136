#include "backup/backuprun.h"

#include "app/forms.h"
#include "fileservices/deltree.h"
#include "fileservices/queries.h"
#include "fileservices/texts.h"
#include "fileservices/treescan.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/prompter.h"
#include "platform/textfile.h"
#include "platform/yield.h"
#include "layout/autosizelabel.h"
#include "ui_Form1.h"

#include <QFileInfo>
#include <QTimer>

#include <optional>

namespace archivon {

using namespace platform;

namespace {

const QString kStart = QStringLiteral("Avvia Backup");
const QString kStop = QStringLiteral("Interrompi");
const QString kSelfCopy = QStringLiteral("Eh no!Non puoi copiare una cartella su se stessa!!!");
const QString kPendingCaption = QStringLiteral("Elenco cartelle ancora da copiare:");

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

} // namespace

BackupRun::BackupRun(Form1& form) : m_form(form) {}

QString BackupRun::sourceOf(int N) const
{
    const auto* ui = m_form.ui();
    const QLineEdit* boxes[] = {ui->Text_sorgente1, ui->Text_sorgente2, ui->Text_sorgente3,
                                ui->Text_sorgente4};
    return boxes[N - 1]->text();
}

QString BackupRun::destinationOf(int N) const
{
    const auto* ui = m_form.ui();
    const QLineEdit* boxes[] = {ui->Text_destinazione1, ui->Text_destinazione2,
                                ui->Text_destinazione3, ui->Text_destinazione4};
    return boxes[N - 1]->text();
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
    picture->setFile(programFolder() + QLatin1Char('\\') + file);
    picture->start();
}

void BackupRun::fail(const QString& path, const QString& reason)
{
    m_failures.append({path, reason});
    m_form.ui()->List1->hide();
}

bool BackupRun::runEnding() const { return Forms::ending(); }

// Every numbered pair must name two real folders on drives, apart from each
// other, before anything is deleted.
QString BackupRun::checkPairs() const
{
    for (int N = 1; N <= 4; ++N) {
        const QString s = sourceOf(N);
        const QString d = destinationOf(N);
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
        const auto resolved = resolve(d);
        if (!resolved || resolved->components.isEmpty())
            return QStringLiteral("Coppia %1: la cartella destinazione \"%2\" non può essere la "
                                  "radice di un'unità.")
                .arg(N)
                .arg(d);
        const QString cs = canonicalFolder(s);
        const QString cd = canonicalFolder(d);
        if (!cs.isEmpty() && !cd.isEmpty() && sameOrInside(cs, cd))
            return kSelfCopy;
    }
    return QString();
}

void BackupRun::Command3_Click()
{
    auto* ui = m_form.ui();

    if (ui->Command3->text() == kStop) {
        m_form.InPausa = true;
        if (ask(QStringLiteral("Vuoi interrompere la copia?"))) {
            m_form.Interruzione = true;
            m_form.Timer_stima.stop();
            setStatus(QStringLiteral("Interrotto dall'utente!"));
            ui->Command3->setText(kStart);
        } else {
            m_form.InPausa = false;
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
        inform(kSelfCopy);
        return;
    }
    if (const QString problem = checkPairs(); !problem.isEmpty()) {
        inform(problem);
        return;
    }
    if (!ui->Text_destinazione->text().endsWith(QLatin1Char('\\')))
        ui->Text_destinazione->setText(ui->Text_destinazione->text() + QLatin1Char('\\'));

    const QString question =
        QStringLiteral("Sei sicuro di voler avviare la copia?\r\n"
                       "Quest'operazione sovrascriverà tutti i dati presenti in \r\n") +
        QStringLiteral("R:\\BKPQORL\\") + ui->NomePc->text() + QLatin1Char('_') +
        ui->Nome_utente->text() +
        QStringLiteral("\r\nL'operazione potrebbe richiedere alcuni minuti");
    if (!ask(question))
        return;

    m_running = true;
    m_failures.clear();
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
        const QString source = sourceOf(N);
        const auto sourceAttrs = attributes(source);
        if (!sourceAttrs || !(*sourceAttrs & Directory)) {
            // Its old backup stays: nothing of this pair is touched.
            m_failures.append({source, QStringLiteral("cartella sorgente inesistente: coppia "
                                                      "saltata, il backup precedente è rimasto")});
            continue;
        }
        const QString destination = destinationOf(N);
        const auto free = ShowFreeSpace(destination.left(3));
        if (!free) {
            inform(QStringLiteral("L'unità di destinazione %1 non è disponibile!\r\n"
                                  "Controllare che sia collegata e riprovare.")
                       .arg(destination.left(2)));
            backToIdle();
            return;
        }
        m_form.SpazioLibero = *free;
        if (const auto size = ShowFolderInfo(source))
            m_form.DimensioneSorgente = *size;
        ui->Lbl_dim_tot->setText(QStringLiteral("Dimensione da copiare : ") +
                                 Scrividimensione(double(m_form.DimensioneSorgente.value_or(0))));
        if (m_form.SpazioLibero.value_or(0) < m_form.DimensioneSorgente.value_or(0)) {
            inform(QStringLiteral("Spazio insufficiente per completare l'operazione!"));
            backToIdle();
            return;
        }
        if (CopiaCoppia(N) == PassEnd::RunEnded) {
            m_running = false;
            return;
        }
    }
    complete();
    m_running = false;
}

void BackupRun::backToIdle()
{
    auto* ui = m_form.ui();
    m_running = false;
    m_form.Timer_stima.stop();
    ui->Command3->setText(kStart);
    ui->Command1->setEnabled(true);
    ui->Command2->setEnabled(true);
}

void BackupRun::complete()
{
    auto* ui = m_form.ui();
    ui->Barra_totale->setValue(ui->Barra_totale->max());
    ui->Barra_file->setValue(ui->Barra_file->max());
    m_form.Timer_stima.stop();
    ui->Label7->hide();
    ui->List1->hide();
    if (m_failures.isEmpty()) {
        setStatus(QStringLiteral("Operazione completata con successo!"));
    } else {
        // Nothing may claim success when something was left behind: the list
        // names each failure with its reason.
        setStatus(m_failures.size() == 1
                      ? QStringLiteral("Operazione completata con 1 errore: un elemento non è "
                                       "stato copiato (vedere l'elenco).")
                      : QStringLiteral("Operazione completata con %1 errori: alcuni elementi non "
                                       "sono stati copiati (vedere l'elenco).")
                            .arg(m_failures.size()));
        ui->Label7->setText(QStringLiteral("Elementi non copiati:"));
        ui->List1->clear();
        m_listShowsFailures = true;
        for (const BackupFailure& f : m_failures)
            ui->List1->addItem(f.path + QStringLiteral(" : ") + f.reason);
        ui->Label7->show();
        ui->List1->show();
    }
    ui->Command3->setText(kStart);

    // The marker goes through a temporary file, so a failed write keeps the old one.
    [[maybe_unused]] const Status marker = writeTextFile(
        programFolder() + QStringLiteral("\\oldimp.pvx"),
        {ui->Text_sorgente1->text(), ui->Text_destinazione1->text()});

    ui->TMaxAni1->hide();
    ui->Command1->setEnabled(true);
    ui->Command2->setEnabled(true);
    if (ui->Check1->isChecked())
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
    while (m_form.InPausa && !runEnding()) {
        platform::yield();
        if (m_form.Interruzione)
            return true;
    }
    return runEnding();
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
    explicit WindowScanObserver(Form1& form) : m_form(form) {}
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
    WindowScanObserver observer(m_form);
    m_form.NumeroFile = archivon::Sottocartelle(folders, Percorso, &observer);
    // The hidden list box takes the folders the scan appended.
    for (qsizetype i = list->count(); i < folders.size(); ++i)
        list->addItem(folders.at(i));
}

BackupRun::PassEnd BackupRun::CopiaCoppia(int N)
{
    auto* ui = m_form.ui();

    // Cleaning and scan.
    showAnimation(QStringLiteral("anim2.gif"));
    m_form.NumeroFile = 0;
    setStatus(QStringLiteral("Pulizia cartella di destinazione in corso..."));
    ui->List1->show();
    ui->Label7->show();
    {
        QString scratch = destinationOf(N);
        DelTree(scratch);
    }
    setStatus(QStringLiteral("Creazione cartella in corso in corso..."));
    const QString D0 = destinationOf(N);
    if (const Status made = makeFolder(D0); !made) {
        const auto attrs = attributes(D0);
        if (attrs && (*attrs & Directory))
            recordLeftovers(D0); // the old backup could not be removed in full
        else
            fail(D0, made.error());
    }
    setStatus(QStringLiteral("Analisi in corso..."));
    ui->List_cartelle->clear();
    ui->List_cartelle->addItem(sourceOf(N));
    ui->List1->addItem(sourceOf(N));
    {
        QString scratch = sourceOf(N);
        Sottocartelle(scratch);
    }
    m_form.Timer_stima.start();
    ui->Barra_file->setMin(0);
    ui->Barra_file->setMax(float(m_form.NumeroFile + 1));
    ui->Lbl_file_da_copiare->setText(QString::number(m_form.NumeroFile));
    const int entries = ui->List_cartelle->count();
    ui->Lbl_n_cartelle->setText(QString::number(entries - 1));
    ui->LBL_trovati->hide();
    ui->Lbl_visitati->hide();

    const QString S = sourceOf(N);
    auto relative = [&](int k) { return QString(ui->List_cartelle->item(k)->text()).remove(S); };

    // Folder creation, parents first since the list is breadth-first.
    for (int i = 1; i < entries; ++i) {
        if (!ui->Barra_totale->setValue(float(i)))
            ui->List1->hide();
        const QString folder =
            withoutDoubleBackslashes(destinationOf(N) + QLatin1Char('\\') + relative(i));
        if (const Status made = makeFolder(folder); !made)
            fail(folder, made.error());
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

    m_sinceYield.restart();
    const auto hook = [this] { return !stopCheck(); };
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
        const QString destinationFolder = destinationOf(N) + QLatin1Char('\\') + relative(j);
        DirSearch search(folder + QStringLiteral("\\*.*"), 0);
        for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
            if (stopCheck())
                return PassEnd::RunEnded;
            const QString source = withoutDoubleBackslashes(folder + QLatin1Char('\\') + name);
            const QString destination =
                withoutDoubleBackslashes(destinationFolder + QLatin1Char('\\') + name);
            setStatus(QStringLiteral("Copia in corso del file ") + source + QStringLiteral(" in ") +
                      destination + QStringLiteral(" ..."));
            if (const Status copied = copyFile(source, destination, hook); !copied) {
                if (m_form.Interruzione || runEnding())
                    return PassEnd::RunEnded;
                fail(source, copied.error());
            }
            if (const auto size = Dimensionefile(source))
                ui->Lbl_dim_file->setText(QStringLiteral("Dimensione file : ") +
                                          Scrividimensione(double(*size)));
            else
                ui->List1->hide();
            auto* bar = ui->Barra_file;
            if (bar->max() > bar->value())
                bar->setValue(bar->value() + 1);
            ui->Lbl_file_copiati->setText(QString::number(qint64(bar->value())));
        }
        ui->Lbl_visitati->setText(QString::number(ui->Lbl_visitati->text().toLongLong() + 1));
        totale->setValue(std::min(totale->value() + 1, totale->max()));
    }
    return PassEnd::Finished;
}

} // namespace archivon
