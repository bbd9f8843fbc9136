#pragma once

#include <QString>
#include <QStringList>

namespace archivon {

/// What the program was asked to do by its arguments.
struct CommandLine
{
    enum class Action {
        /// No arguments: the start wizard.
        Wizard,
        /// --backup --utente NOME [--spegni] [--completo] [--prova]: a run
        /// with nobody at the screen, or what it would do.
        Backup,
        /// --stato [--giorni N] [--giorni-verifica N] [--attesi FILE] [--csv]:
        /// the last backup and check of every computer on R:, read without
        /// writing anything.
        Overview,
        /// --ripristina --utente NOME [--computer NOME] [--al DATA] [--percorso
        /// PERCORSO] [--destinazione CARTELLA] [--prova]: the backup given back;
        /// with --elenco or --versioni PERCORSO, what can be given back.
        Restore,
        /// --verifica --utente NOME [--computer NOME] [--quota N%] [--sorgente]
        /// [--anche-versioni]: the backup read back against its index.
        Check,
        /// --help, --version, or arguments in error: print and leave with exitCode.
        Leave,
    };
    Action action = Action::Wizard;
    QString user;
    bool shutdown = false;
    /// --completo: every pair rewritten whole instead of brought up to date.
    bool fullRewrite = false;
    /// --prova: what the run would do is printed, and nothing is written.
    bool dryRun = false;
    /// --giorni: working days without a run free of failures before a computer is marked.
    int days = 2;
    /// --giorni-verifica: days since the last check of a backup before its computer is marked.
    int checkDays = 7;
    /// --attesi: a file naming the computer folders expected, one a line.
    QString expectedFile;
    bool csv = false;
    /// --computer: another computer's backup; empty: this one.
    QString computer;
    /// --al, as given; empty: the backup as it stands.
    QString moment;
    /// --percorso: what to give back, below the computer's backup folder.
    QString restorePath;
    /// --destinazione: the folder to write into; empty: each pair's own place.
    QString restoreTarget;
    /// --elenco: the moments that can be given back.
    bool listMoments = false;
    /// --versioni: every content the backup holds of one file.
    QString versionsOf;
    /// --quota: the share of the files a check reads, in percent.
    int quota = 100;
    /// --sorgente: the check reads this computer's sources too.
    bool checkSource = false;
    /// --anche-versioni: the check reads the dated folders' files too.
    bool checkVersions = false;
    /// For Leave: what to print, on standard output (exitCode 0) or error (2).
    QString text;
    int exitCode = 0;
};

/// Reads the arguments (the program name first, as in argv). Needs no
/// application object, so --help and --version work without a display.
CommandLine parseCommandLine(const QStringList& arguments);

/// Status of bad arguments; the same as a run refused before it changed anything.
inline constexpr int kBadArguments = 2;

} // namespace archivon
