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
        /// --stato [--giorni N] [--attesi FILE] [--csv]: the last backup of
        /// every computer on R:, read without writing anything.
        Overview,
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
    /// --attesi: a file naming the computer folders expected, one a line.
    QString expectedFile;
    bool csv = false;
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
