#include "app/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace archivon {

namespace {

QString version()
{
    const QString set = QCoreApplication::applicationVersion();
    return set.isEmpty() ? QStringLiteral(ARCHIVON_VERSION) : set;
}

// Written out rather than taken from QCommandLineParser::helpText(), whose
// headings and option texts are English.
QString helpText()
{
    return QStringLiteral(
        "Uso: archivon [--backup --utente NOME [--spegni] [--completo]]\n"
        "\n"
        "Archivon copia le cartelle dell'utente nella cartella del computer sul disco\n"
        "di rete R:. Senza opzioni si apre la finestra iniziale.\n"
        "\n"
        "Opzioni:\n"
        "  --backup          esegue la copia senza assistenza: nessuna finestra di\n"
        "                    dialogo, ogni domanda vale come confermata, i messaggi\n"
        "                    vanno nel registro e sullo standard error\n"
        "  --utente NOME     nome dell'utente o della postazione (con --backup)\n"
        "  --spegni          spegne il computer alla fine della copia (con --backup)\n"
        "  --completo        riscrive ogni cartella per intero invece di copiare solo\n"
        "                    i file nuovi o cambiati (con --backup); per ogni copia:\n"
        "                    CopiaCompleta=true in $XDG_CONFIG_HOME/archivon/archivon.conf\n"
        "  -h, --help        mostra questo aiuto ed esce\n"
        "  -v, --version     mostra la versione ed esce\n"
        "\n"
        "Con --backup non si apre nessuna finestra e non serve uno schermo (cron,\n"
        "timer di systemd).\n"
        "\n"
        "Stato d'uscita con --backup:\n"
        "  0  copia completata senza errori\n"
        "  1  copia completata con errori\n"
        "  2  copia rifiutata prima di cambiare qualcosa (anche perché è in corso un\n"
        "     altro backup dello stesso computer), o argomenti errati\n"
        "  3  copia terminata in anticipo dopo aver cambiato qualcosa\n"
        "\n"
        "Registri: $XDG_STATE_HOME/archivon/ (normalmente ~/.local/state/archivon/),\n"
        "gli ultimi 30; l'ultimo anche in R:\\BKPQORL\\<computer>_<utente>\\archivon.log\n");
}

CommandLine leave(const QString& text, int exitCode)
{
    CommandLine c;
    c.action = CommandLine::Action::Leave;
    c.text = text;
    c.exitCode = exitCode;
    return c;
}

CommandLine badArguments(const QString& why)
{
    return leave(QStringLiteral("archivon: ") + why +
                     QStringLiteral("\nUsare \"archivon --help\" per l'elenco delle opzioni.\n"),
                 kBadArguments);
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption backup(QStringLiteral("backup"));
    const QCommandLineOption user(QStringLiteral("utente"), QString(), QStringLiteral("NOME"));
    const QCommandLineOption shutdown(QStringLiteral("spegni"));
    const QCommandLineOption full(QStringLiteral("completo"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({backup, user, shutdown, full, help, versionOption});

    if (!parser.parse(arguments)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            const QString name = parser.unknownOptionNames().first();
            return badArguments(
                QStringLiteral("opzione sconosciuta: %1%2")
                    .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
        }
        if (arguments.size() > 1 && arguments.last().startsWith(QStringLiteral("-")) &&
            arguments.last().endsWith(QStringLiteral("utente")))
            return badArguments(QStringLiteral("manca il nome dopo --utente."));
        return badArguments(QStringLiteral("argomenti non validi."));
    }
    if (parser.isSet(help))
        return leave(helpText(), 0);
    if (parser.isSet(versionOption))
        return leave(QStringLiteral("Archivon %1\n").arg(version()), 0);
    if (!parser.positionalArguments().isEmpty())
        return badArguments(
            QStringLiteral("argomento non previsto: %1").arg(parser.positionalArguments().first()));
    if (parser.values(user).size() > 1)
        return badArguments(QStringLiteral("--utente è dato più di una volta."));

    CommandLine c;
    if (!parser.isSet(backup)) {
        if (parser.isSet(user) || parser.isSet(shutdown) || parser.isSet(full))
            return badArguments(
                QStringLiteral("--utente, --spegni e --completo valgono solo con --backup."));
        return c;
    }
    if (!parser.isSet(user))
        return badArguments(QStringLiteral("con --backup serve --utente NOME."));
    c.action = CommandLine::Action::Backup;
    c.user = parser.value(user);
    c.shutdown = parser.isSet(shutdown);
    c.fullRewrite = parser.isSet(full);
    return c;
}

} // namespace archivon
