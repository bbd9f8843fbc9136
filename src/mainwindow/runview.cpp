#include "mainwindow/runview.h"

#include "fileservices/texts.h"
#include "layout/autosizelabel.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "ui_Form1.h"

#include <algorithm>

namespace archivon {

namespace {

const QString kStart = QStringLiteral("Avvia Backup");
const QString kPendingCaption = QStringLiteral("Elenco cartelle ancora da copiare:");
const QString kCleaning = QStringLiteral("Pulizia cartella di destinazione in corso...");

} // namespace

RunView::RunView(Form1& form) : m_form(form), m_ui(form.ui()) {}

void RunView::setStatus(const QString& text)
{
    m_ui->Label_file_in_copia->setText(text);
}

void RunView::showAnimation(const QString& file)
{
    m_ui->TMaxAni1->setFile(platform::dataFile(file));
    m_ui->TMaxAni1->start();
}

void RunView::begin()
{
    m_running = true;
    m_pair = 0;
    m_notCopied.clear();
    m_skipped.clear();
    // The list and its caption go back to the folders still to copy.
    m_ui->List1->clear();
    m_ui->Label7->setText(kPendingCaption);
    m_ui->Command1->setEnabled(false);
    m_ui->Command2->setEnabled(false);
    m_ui->Command3->setText(QStringLiteral("Interrompi"));
}

void RunView::stopConfirmed()
{
    m_form.Timer_stima.stop();
    setStatus(QStringLiteral("Interrotto dall'utente!"));
    m_ui->Command3->setText(kStart);
}

void RunView::apply(const RunEvent& e)
{
    using Kind = RunEvent::Kind;
    switch (e.kind) {
    case Kind::RunStarted:
    case Kind::PairStarted:
    case Kind::Notice:
        break;
    case Kind::Phase:
        phase(e.pair, e.phase, e.path);
        break;
    case Kind::Scanned:
        scanned(e);
        break;
    case Kind::Measured:
        m_form.DimensioneSorgente = e.bytes;
        m_form.SpazioLibero = e.count < 0 ? std::nullopt : std::optional<qint64>(e.count);
        m_ui->Lbl_dim_tot->setText(QStringLiteral("Dimensione da copiare : ") +
                                   Scrividimensione(double(e.bytes)));
        break;
    case Kind::PairSkipped:
        m_skipped << e.path + QStringLiteral(" : ") + e.detail;
        break;
    case Kind::Failure:
        m_notCopied << e.path + QStringLiteral(" : ") + e.detail;
        m_ui->List1->hide();
        break;
    case Kind::PassedOver:
        m_notCopied << e.path + QStringLiteral(" : ") + e.detail;
        break;
    case Kind::PairFinished:
        // Everything of the pair has ended, whatever the last sample showed.
        applyCounts(std::numeric_limits<qint64>::max(), m_folders.size());
        break;
    case Kind::RunEnded:
        ended(e.end);
        break;
    }
}

void RunView::phase(int N, Phase phase, const QString& source)
{
    const bool newPair = N != m_pair;
    m_pair = N;
    m_phase = phase;
    switch (phase) {
    case Phase::Scanning:
        showAnimation(QStringLiteral("anim2.gif"));
        m_form.NumeroFile = 0;
        setStatus(QStringLiteral("Analisi in corso..."));
        m_ui->List1->show();
        m_ui->Label7->show();
        if (newPair) {
            m_folders = {source};
            m_ui->List_cartelle->clear();
            m_ui->List_cartelle->addItem(source);
            m_ui->List1->addItem(source);
            m_foldersMadeShown = 1;
            m_foldersDoneShown = 0;
        }
        m_form.setCursor(Qt::WaitCursor);
        m_ui->Barra_totale->setMin(1);
        m_ui->Barra_totale->setMax(2);
        m_ui->Barra_totale->setValue(1);
        break;
    case Phase::Cleaning:
        showAnimation(QStringLiteral("anim2.gif"));
        setStatus(kCleaning);
        break;
    case Phase::Creating:
        setStatus(QStringLiteral("Creazione cartella in corso in corso..."));
        break;
    case Phase::MakingFolders:
        break;
    case Phase::Copying:
        // Every folder has been made by now, however quickly: all of them join
        // the list of those still to copy.
        appendMadeFolders(m_folders.size());
        showAnimation(QStringLiteral("anim.gif"));
        m_ui->List1->show();
        m_form.Timer_stima.start();
        m_ui->Lbl_visitati->setText(QStringLiteral("0"));
        m_ui->Barra_totale->setMin(0);
        m_ui->Barra_totale->setMax(float(m_ui->Lbl_n_cartelle->text().toLongLong() + 1));
        m_ui->Barra_file->setValue(0);
        m_ui->Barra_totale->setValue(0);
        m_ui->Lbl_file_totali->setText(m_ui->Lbl_file_da_copiare->text());
        m_named = 0;
        break;
    }
}

void RunView::scanned(const RunEvent& e)
{
    m_form.unsetCursor();
    m_folders = e.folders;
    m_form.NumeroFile = e.count;
    const qint64 entries = m_folders.size();
    m_ui->List_cartelle->clear();
    m_ui->List_cartelle->addItems(m_folders);
    m_ui->Barra_totale->setMax(float(std::max<qint64>(entries, 2)));
    m_ui->Barra_totale->setValue(float(entries));
    m_ui->Lbl_file_copiati->setText(QString::number(entries));
    m_ui->Lbl_visitati->setText(QString::number(entries));
    if (entries > 1)
        m_ui->Lbl_file_totali->setText(QString::number(entries));
    m_form.Timer_stima.start();
    m_ui->Barra_file->setMin(0);
    m_ui->Barra_file->setMax(float(e.count + 1));
    m_ui->Lbl_file_da_copiare->setText(QString::number(e.count));
    m_ui->Lbl_n_cartelle->setText(QString::number(entries - 1));
    m_ui->LBL_trovati->hide();
    m_ui->Lbl_visitati->hide();
}

void RunView::sample(const RunProgress& p)
{
    if (!m_running || p.pair != m_pair)
        return;
    switch (m_phase) {
    case Phase::Scanning:
        if (p.foldersKnown > 1) {
            m_ui->Barra_totale->setMax(float(p.foldersKnown));
            m_ui->Lbl_file_totali->setText(QString::number(p.foldersKnown));
        }
        if (p.foldersVisited > 0) {
            m_ui->Barra_totale->setValue(float(p.foldersVisited));
            m_ui->Lbl_file_copiati->setText(QString::number(p.foldersVisited));
            m_ui->Lbl_visitati->setText(QString::number(p.foldersVisited));
        }
        break;
    case Phase::MakingFolders:
        appendMadeFolders(p.foldersMade);
        break;
    case Phase::Copying: {
        applyCounts(p.filesEnded, p.foldersDone);
        // A file being copied now: the one named already while it goes on,
        // otherwise the one that began first.
        const auto named = std::find_if(p.copying.begin(), p.copying.end(),
                                        [this](const RunProgress::Copy& c) { return c.serial == m_named; });
        const RunProgress::Copy* copy =
            named != p.copying.end() ? &*named : (p.copying.isEmpty() ? nullptr : &p.copying.first());
        if (!copy) {
            // Unchanged files are being passed over: nothing is copied.
            if (p.passingOver)
                setStatus(QStringLiteral("Analisi in corso..."));
            break;
        }
        m_named = copy->serial;
        const AutoSizeLabel::DeferFitting quickCaptions;
        setStatus(QStringLiteral("Copia in corso del file ") + copy->source + QStringLiteral(" in ") +
                  copy->destination + QStringLiteral(" ..."));
        m_ui->Lbl_dim_file->setText(QStringLiteral("Dimensione file : ") +
                                    Scrividimensione(double(copy->size)));
        m_ui->ProgressBar1->setValue(copy->size > 0 ? float(copy->written * 100 / copy->size) : 0.0f);
        break;
    }
    case Phase::Cleaning:
    case Phase::Creating:
        break;
    }
}

// The folders made so far join the list of those still to copy.
void RunView::appendMadeFolders(qint64 made)
{
    for (; m_foldersMadeShown < std::min<qint64>(made, m_folders.size()); ++m_foldersMadeShown) {
        m_ui->Barra_totale->setValue(float(m_foldersMadeShown));
        m_ui->List1->addItem(m_folders.at(m_foldersMadeShown));
        m_ui->Lbl_file_copiati->setText(QString::number(m_foldersMadeShown));
    }
}

// Counters and the file bar count copies that have ended; the folder bar and
// the list advance when a folder's files have all ended.
void RunView::applyCounts(qint64 filesEnded, qint64 foldersDone)
{
    if (m_phase != Phase::Copying && m_phase != Phase::Cleaning)
        return;
    auto* files = m_ui->Barra_file;
    const float value = float(std::min<qint64>(filesEnded, qint64(files->max()) - 1));
    if (value > files->value() && files->setValue(value))
        m_ui->Lbl_file_copiati->setText(QString::number(qint64(value)));
    auto* folders = m_ui->Barra_totale;
    for (; m_foldersDoneShown < std::min<qint64>(foldersDone, m_folders.size()); ++m_foldersDoneShown) {
        if (m_ui->List1->count() > 0)
            delete m_ui->List1->takeItem(0);
        folders->setValue(std::min(folders->value() + 1, folders->max()));
        m_ui->Lbl_visitati->setText(QString::number(m_foldersDoneShown + 1));
    }
}

// However the run ended, the window says so and shows nothing of it as still
// going: no walk or copy animated, no folder listed as still to come.
void RunView::ended(const RunEnd& end)
{
    m_running = false;
    m_form.unsetCursor();
    m_form.Timer_stima.stop();
    if (!end.status.isEmpty())
        setStatus(end.status);
    m_ui->List1->clear();
    m_ui->List1->hide();
    m_ui->Label7->hide();
    m_ui->TMaxAni1->stop();
    if (end.reason == RunEnd::Reason::Completed) {
        m_ui->Barra_totale->setValue(m_ui->Barra_totale->max());
        m_ui->Barra_file->setValue(m_ui->Barra_file->max());
        m_ui->TMaxAni1->hide();
    }
    showFailureList();
    // A stopped run leaves the folder buttons off until one completes.
    if (end.reason == RunEnd::Reason::Stopped)
        m_ui->Command3->setText(kStart);
    else
        backToIdle();
}

void RunView::backToIdle()
{
    m_form.Timer_stima.stop();
    m_ui->Command3->setText(kStart);
    m_ui->Command1->setEnabled(true);
    m_ui->Command2->setEnabled(true);
}

// The list under "Elementi non copiati:" names every failure, everything
// passed over and every pair left alone, each with its reason.
void RunView::showFailureList()
{
    if (m_notCopied.isEmpty() && m_skipped.isEmpty())
        return;
    m_ui->Label7->setText(QStringLiteral("Elementi non copiati:"));
    m_ui->List1->addItems(m_notCopied);
    m_ui->List1->addItems(m_skipped);
    m_ui->Label7->show();
    m_ui->List1->show();
}

} // namespace archivon
