// Times one pair pass of the backup: bench/run compares it with cp -a.
//
// Usage: pairpass_bench DRIVES_FOLDER SOURCE DESTINATION
// DRIVES_FOLDER maps the drives; SOURCE and DESTINATION are Windows-form paths on them.
// Prints the seconds the pass took, and the failures if any.

#include "backup/backuprun.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/prompter.h"
#include "ui_Form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>

using namespace archivon;

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 4) {
        QTextStream(stderr) << "usage: pairpass_bench DRIVES_FOLDER SOURCE DESTINATION\n";
        return 2;
    }
    qputenv("ARCHIVON_DRIVES", argv[1]);
    platform::ScriptedPrompter boxes; // nothing should ask anything
    platform::setPrompter(&boxes);

    Form1 form;
    form.show();
    form.ui()->Text_sorgente1->setText(QString::fromLocal8Bit(argv[2]));
    form.ui()->Text_destinazione1->setText(QString::fromLocal8Bit(argv[3]));
    BackupRun run(form);

    QElapsedTimer timer;
    timer.start();
    // Where the time goes, phase by phase, on standard error.
    QString phase;
    qint64 phaseStart = 0;
    run.onStatus = [&](const QString& status) {
        const QString name = status.startsWith(QLatin1String("Copia in corso")) ? QStringLiteral("copia") : status;
        if (name == phase)
            return;
        const qint64 now = timer.nsecsElapsed();
        if (!phase.isEmpty())
            QTextStream(stderr) << "  " << phase << ": " << (now - phaseStart) / 1000000 << " ms\n";
        phase = name;
        phaseStart = now;
    };
    run.CopiaCoppia(1);
    QTextStream(stderr) << "  " << phase << ": " << (timer.nsecsElapsed() - phaseStart) / 1000000 << " ms\n";
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    QTextStream out(stdout);
    out << QString::number(seconds, 'f', 3) << "\n";
    for (const BackupFailure& f : run.failures())
        QTextStream(stderr) << f.path << " : " << f.reason << "\n";
    return run.failures().isEmpty() && boxes.shown.isEmpty() ? 0 : 1;
}
