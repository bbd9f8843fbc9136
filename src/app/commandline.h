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
        /// --backup --utente NOME [--spegni] [--completo]: a run with nobody
        /// at the screen.
        Backup,
        /// --help, --version, or arguments in error: print and leave with exitCode.
        Leave,
    };
    Action action = Action::Wizard;
    QString user;
    bool shutdown = false;
    /// --completo: every pair rewritten whole instead of brought up to date.
    bool fullRewrite = false;
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
