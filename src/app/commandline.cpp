#include "app/commandline.h"

#include "restore/restore.h"

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
        "Uso: archivon [--backup --utente NOME [--spegni] [--completo] [--prova]]\n"
        "     archivon --stato [--giorni N] [--giorni-verifica N] [--attesi FILE] [--csv]\n"
        "     archivon --ripristina --utente NOME [--computer NOME] [--al DATA]\n"
        "              [--percorso PERCORSO] [--destinazione CARTELLA] [--prova]\n"
        "     archivon --ripristina --utente NOME [--computer NOME] --elenco\n"
        "     archivon --ripristina --utente NOME [--computer NOME] --versioni PERCORSO\n"
        "     archivon --verifica --utente NOME [--computer NOME] [--quota N%] [--sorgente]\n"
        "              [--anche-versioni]\n"
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
        "  --prova           mostra che cosa farebbe la copia, coppia per coppia, senza\n"
        "                    scrivere nulla su nessun disco: nessuna cartella, nessun\n"
        "                    registro, nessuno spegnimento (con --backup); con\n"
        "                    --ripristina, che cosa scriverebbe, cartella per cartella\n"
        "  --stato           elenca l'ultimo backup di ogni computer in R:\\BKPQORL, dal\n"
        "                    registro di ciascuno, senza scrivere nulla; prima chi\n"
        "                    aspetta da più tempo un backup senza errori; per ognuno\n"
        "                    anche l'ultima verifica, il suo esito e quanta parte\n"
        "                    del backup è stata riletta negli ultimi 30 giorni\n"
        "  --giorni N        segnala chi non ha un backup senza errori da più di N\n"
        "                    giorni lavorativi, da lunedì a venerdì (con --stato; 2)\n"
        "  --giorni-verifica N\n"
        "                    segnala chi non ha una verifica da più di N giorni, o\n"
        "                    ha file danneggiati nell'ultima (con --stato; 7); chi\n"
        "                    non è mai stato verificato non è segnalato\n"
        "  --attesi FILE     le cartelle dei computer attese, una per riga: una\n"
        "                    assente è segnalata (con --stato)\n"
        "  --csv             elenco in CSV, separato da \";\" (con --stato)\n"
        "  --ripristina      rimette il backup com'era in un momento: non sostituisce\n"
        "                    né elimina nulla; un file diverso resta e la copia del\n"
        "                    backup va accanto, come \"nome (ripristino DATA).ext\"\n"
        "  --computer NOME   il backup di un altro computer (con --ripristina e\n"
        "                    --verifica; normalmente questo)\n"
        "  --al DATA         AAAA-MM-GG (la fine del giorno) o AAAA-MM-GG HH:MM[:SS],\n"
        "                    ora locale; senza, il backup com'è ora (con --ripristina)\n"
        "  --percorso P      una cartella del backup o ciò che contiene, come\n"
        "                    Documenti\\Pratiche; senza, tutte le cartelle\n"
        "  --destinazione C  scrive in C\\<cartella del backup>\\...; senza, ogni\n"
        "                    cartella torna al suo posto, che deve essere vuoto se\n"
        "                    la si ripristina per intero\n"
        "  --elenco          i momenti che si possono ripristinare, dal più recente\n"
        "  --versioni P      ogni contenuto che il backup tiene del file P\n"
        "  --verifica        rilegge il backup su R: (senza la cache) e lo confronta con\n"
        "                    le impronte dell'indice: nomina ogni file danneggiato o\n"
        "                    cambiato; su R: scrive solo l'indice e il riepilogo\n"
        "                    archivon-verifica.log; lascia il posto a un backup\n"
        "  --quota N%        legge solo N% dei file, quelli letti da più tempo: N\n"
        "                    4 verifiche al 25% leggono ogni file (con --verifica)\n"
        "  --sorgente        legge anche gli originali di questo computer (con --verifica)\n"
        "  --anche-versioni  legge anche i file delle versioni precedenti (con --verifica)\n"
        "  -h, --help        mostra questo aiuto ed esce\n"
        "  -v, --version     mostra la versione ed esce\n"
        "\n"
        "Con --backup non si apre nessuna finestra e non serve uno schermo (cron,\n"
        "timer di systemd).\n"
        "\n"
        "Stato d'uscita con --backup:\n"
        "  0  copia completata senza errori\n"
        "  1  copia completata con errori, o nessuna cartella copiata\n"
        "  2  copia rifiutata prima di cambiare qualcosa (anche perché è in corso un\n"
        "     altro backup dello stesso computer), o argomenti errati\n"
        "  3  copia terminata in anticipo dopo aver cambiato qualcosa\n"
        "Con --prova lo stato è quello che darebbe la copia se nel frattempo nulla\n"
        "cambiasse.\n"
        "\n"
        "Stato d'uscita con --stato:\n"
        "  0  nessun computer da segnalare\n"
        "  1  qualche computer segnalato\n"
        "  2  R: o R:\\BKPQORL non si possono leggere, o argomenti errati\n"
        "\n"
        "Stato d'uscita con --ripristina:\n"
        "  0  tutto ripristinato (anche ciò che è andato accanto)\n"
        "  1  qualcosa non ripristinato (l'elenco dice che cosa e perché)\n"
        "  2  rifiutato prima di scrivere qualcosa: argomenti errati, momento non\n"
        "     raggiungibile, cartella non vuota, destinazione su R:, backup in corso\n"
        "  3  interrotto a metà (SIGINT, SIGTERM): nessun file resta scritto a metà\n"
        "\n"
        "Stato d'uscita con --verifica:\n"
        "  0  ogni file letto è integro (anche se non aveva ancora un'impronta)\n"
        "  1  file danneggiati o cambiati: l'elenco nomina ciascuno e il caso\n"
        "  2  rifiutata: argomenti errati, backup assente, blocco di un'altra attività\n"
        "  3  interrotta (SIGINT, SIGTERM) o ha lasciato il posto a un backup: ciò\n"
        "     che ha letto è registrato, la prossima riprende dal resto\n"
        "\n"
        "Registri: $XDG_STATE_HOME/archivon/ (normalmente ~/.local/state/archivon/),\n"
        "gli ultimi 30; l'ultimo anche in R:\\BKPQORL\\<computer>_<utente>\\archivon.log\n"
        "\n"
        "Ciò che una copia elimina o sostituisce nel backup resta in\n"
        "R:\\BKPQORL\\<computer>_<utente>\\Versioni precedenti\\<data e ora della copia>\\\n"
        "per 30 giorni (GiorniVersioni=N in archivon.conf; 0: nessuna nuova versione),\n"
        "con l'elenco della copia (.archivon-elenco), da cui --ripristina ricostruisce\n"
        "ogni momento. Mentre una copia o un ripristino è in corso, la cartella del\n"
        "computer ha il blocco .archivon-blocco.\n"
        "\n"
        "Esempi di ripristino:\n"
        "  archivon --ripristina --utente ufficio2 --computer PC7\n"
        "      un computer nuovo: ogni cartella al suo posto, vuoto\n"
        "  archivon --ripristina --utente ufficio2 --percorso 'Documenti\\Pratiche'\n"
        "      una cartella eliminata, al suo posto\n"
        "  archivon --ripristina --utente ufficio2 --elenco\n"
        "      i momenti che si possono dare a --al, poi:\n"
        "  archivon --ripristina --utente ufficio2 --al \"2026-12-04 19:45\" \\\n"
        "           --destinazione 'C:\\Ripristino'\n"
        "      com'era prima di un virus, in una cartella a parte\n"
        "  archivon --ripristina --utente ufficio2 --versioni 'Documenti\\Pratiche\\p1.txt'\n"
        "      le versioni di un file\n");
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

// The options of --ripristina, in the order parseRestore() reads them.
struct RestoreOptions
{
    const QCommandLineOption &user, &computer, &moment, &path, &target, &listMoments, &versionsOf, &dryRun;
};

CommandLine parseRestore(const QCommandLineParser& parser, const RestoreOptions& o)
{
    if (!parser.isSet(o.user))
        return badArguments(QStringLiteral("con --ripristina serve --utente NOME."));
    CommandLine c;
    c.action = CommandLine::Action::Restore;
    c.user = parser.value(o.user);
    c.computer = parser.value(o.computer);
    c.moment = parser.value(o.moment);
    c.restorePath = parser.value(o.path);
    c.restoreTarget = parser.value(o.target);
    c.listMoments = parser.isSet(o.listMoments);
    c.versionsOf = parser.value(o.versionsOf);
    c.dryRun = parser.isSet(o.dryRun);
    const bool writes = parser.isSet(o.moment) || parser.isSet(o.path) || parser.isSet(o.target) || c.dryRun;
    if (int(c.listMoments) + int(parser.isSet(o.versionsOf)) + int(writes) > 1)
        return badArguments(QStringLiteral("--elenco, --versioni e le opzioni di un ripristino (--al, --percorso, "
                                           "--destinazione, --prova) vanno date separatamente."));
    if (parser.isSet(o.moment) && !restore::parseMoment(c.moment))
        return badArguments(
            QStringLiteral("--al vuole una data AAAA-MM-GG o AAAA-MM-GG HH:MM[:SS], non «%1».").arg(c.moment));
    if (parser.isSet(o.versionsOf) && c.versionsOf.trimmed().isEmpty())
        return badArguments(QStringLiteral("--versioni vuole il percorso di un file del backup."));
    return c;
}

struct CheckOptions
{
    const QCommandLineOption &user, &computer, &quota, &source, &versions;
};

CommandLine parseCheck(const QCommandLineParser& parser, const CheckOptions& o)
{
    if (!parser.isSet(o.user))
        return badArguments(QStringLiteral("con --verifica serve --utente NOME."));
    CommandLine c;
    c.action = CommandLine::Action::Check;
    c.user = parser.value(o.user);
    c.computer = parser.value(o.computer);
    c.checkSource = parser.isSet(o.source);
    c.checkVersions = parser.isSet(o.versions);
    if (parser.isSet(o.quota)) {
        QString text = parser.value(o.quota).trimmed();
        if (text.endsWith(QLatin1Char('%')))
            text.chop(1);
        bool number = false;
        c.quota = text.toInt(&number);
        if (!number || c.quota < 1 || c.quota > 100)
            return badArguments(QStringLiteral("--quota vuole una percentuale intera da 1% a 100%, come 25%, "
                                               "non «%1».")
                                    .arg(parser.value(o.quota)));
    }
    return c;
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
    const QCommandLineOption dryRun(QStringLiteral("prova"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(
        QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption overview(QStringLiteral("stato"));
    const QCommandLineOption days(QStringLiteral("giorni"), QString(), QStringLiteral("N"));
    const QCommandLineOption checkDays(QStringLiteral("giorni-verifica"), QString(), QStringLiteral("N"));
    const QCommandLineOption expected(QStringLiteral("attesi"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption csv(QStringLiteral("csv"));
    parser.addOptions(
        {backup, user, shutdown, full, dryRun, overview, days, checkDays, expected, csv, help, versionOption});
    const QCommandLineOption restore(QStringLiteral("ripristina"));
    const QCommandLineOption computer(QStringLiteral("computer"), QString(), QStringLiteral("NOME"));
    const QCommandLineOption moment(QStringLiteral("al"), QString(), QStringLiteral("DATA"));
    const QCommandLineOption path(QStringLiteral("percorso"), QString(), QStringLiteral("PERCORSO"));
    const QCommandLineOption target(QStringLiteral("destinazione"), QString(), QStringLiteral("CARTELLA"));
    const QCommandLineOption listMoments(QStringLiteral("elenco"));
    const QCommandLineOption versionsOf(QStringLiteral("versioni"), QString(), QStringLiteral("PERCORSO"));
    parser.addOptions({restore, computer, moment, path, target, listMoments, versionsOf});
    const QCommandLineOption check(QStringLiteral("verifica"));
    const QCommandLineOption quota(QStringLiteral("quota"), QString(), QStringLiteral("N%"));
    const QCommandLineOption source(QStringLiteral("sorgente"));
    const QCommandLineOption alsoVersions(QStringLiteral("anche-versioni"));
    parser.addOptions({check, quota, source, alsoVersions});

    if (!parser.parse(arguments)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            const QString name = parser.unknownOptionNames().first();
            return badArguments(
                QStringLiteral("opzione sconosciuta: %1%2")
                    .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
        }
        const QList<std::pair<QString, QString>> valued{
            {QStringLiteral("utente"), QStringLiteral("il nome")},
            {QStringLiteral("giorni"), QStringLiteral("il numero")},
            {QStringLiteral("giorni-verifica"), QStringLiteral("il numero")},
            {QStringLiteral("attesi"), QStringLiteral("il file")},
            {QStringLiteral("computer"), QStringLiteral("il nome")},
            {QStringLiteral("al"), QStringLiteral("la data")},
            {QStringLiteral("percorso"), QStringLiteral("il percorso")},
            {QStringLiteral("destinazione"), QStringLiteral("la cartella")},
            {QStringLiteral("versioni"), QStringLiteral("il percorso")},
            {QStringLiteral("quota"), QStringLiteral("la percentuale")}};
        for (const auto& [option, what] : valued) {
            if (arguments.size() > 1 && arguments.last().startsWith(QLatin1Char('-')) &&
                arguments.last().endsWith(option))
                return badArguments(QStringLiteral("manca %1 dopo --%2.").arg(what, option));
        }
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

    const bool checkOptions = parser.isSet(quota) || parser.isSet(source) || parser.isSet(alsoVersions);
    if (parser.isSet(check)) {
        if (parser.isSet(restore) || parser.isSet(overview) || parser.isSet(backup) || parser.isSet(shutdown) ||
            parser.isSet(full) || parser.isSet(dryRun) || parser.isSet(days) || parser.isSet(checkDays) ||
            parser.isSet(expected) ||
            parser.isSet(csv) || parser.isSet(moment) || parser.isSet(path) || parser.isSet(target) ||
            parser.isSet(listMoments) || parser.isSet(versionsOf))
            return badArguments(QStringLiteral(
                "--verifica va solo con --utente, --computer, --quota, --sorgente e --anche-versioni."));
        return parseCheck(parser, {user, computer, quota, source, alsoVersions});
    }
    if (checkOptions)
        return badArguments(QStringLiteral("--quota, --sorgente e --anche-versioni valgono solo con --verifica."));
    const bool restoreOptions = parser.isSet(computer) || parser.isSet(moment) || parser.isSet(path) ||
                                parser.isSet(target) || parser.isSet(listMoments) || parser.isSet(versionsOf);
    if (parser.isSet(restore)) {
        if (parser.isSet(overview) || parser.isSet(backup) || parser.isSet(shutdown) || parser.isSet(full) ||
            parser.isSet(days) || parser.isSet(checkDays) || parser.isSet(expected) || parser.isSet(csv))
            return badArguments(QStringLiteral("--ripristina non va con --stato, --backup, --spegni e --completo."));
        return parseRestore(parser, {user, computer, moment, path, target, listMoments, versionsOf, dryRun});
    }
    if (restoreOptions)
        return badArguments(QStringLiteral(
            "--computer, --al, --percorso, --destinazione, --elenco e --versioni valgono solo con --ripristina "
            "(--computer anche con --verifica)."));

    CommandLine c;
    const bool overviewOptions =
        parser.isSet(days) || parser.isSet(checkDays) || parser.isSet(expected) || parser.isSet(csv);
    if (parser.isSet(overview)) {
        if (parser.isSet(backup) || parser.isSet(user) || parser.isSet(shutdown) ||
            parser.isSet(full) || parser.isSet(dryRun))
            return badArguments(QStringLiteral(
                "--stato non va con --backup, --utente, --spegni, --completo e --prova."));
        c.action = CommandLine::Action::Overview;
        if (parser.isSet(days)) {
            bool number = false;
            c.days = parser.value(days).toInt(&number);
            if (!number || c.days < 0)
                return badArguments(
                    QStringLiteral("--giorni vuole un numero intero di giorni, 0 o più."));
        }
        if (parser.isSet(checkDays)) {
            bool number = false;
            c.checkDays = parser.value(checkDays).toInt(&number);
            if (!number || c.checkDays < 0)
                return badArguments(
                    QStringLiteral("--giorni-verifica vuole un numero intero di giorni, 0 o più."));
        }
        c.expectedFile = parser.value(expected);
        c.csv = parser.isSet(csv);
        return c;
    }
    if (overviewOptions)
        return badArguments(
            QStringLiteral("--giorni, --giorni-verifica, --attesi e --csv valgono solo con --stato."));
    if (!parser.isSet(backup)) {
        if (parser.isSet(user) || parser.isSet(shutdown) || parser.isSet(full) ||
            parser.isSet(dryRun))
            return badArguments(QStringLiteral(
                "--utente, --spegni, --completo e --prova valgono solo con --backup."));
        return c;
    }
    if (!parser.isSet(user))
        return badArguments(QStringLiteral("con --backup serve --utente NOME."));
    c.action = CommandLine::Action::Backup;
    c.user = parser.value(user);
    c.shutdown = parser.isSet(shutdown);
    c.fullRewrite = parser.isSet(full);
    c.dryRun = parser.isSet(dryRun);
    return c;
}

} // namespace archivon
