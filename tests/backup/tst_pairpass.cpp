#include "platform/drives.h"
#include "support/backupfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScreen>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace archivon;

class TestPairPass : public QObject, test::BackupFixture
{
    Q_OBJECT

private slots:
    void init()
    {
        setUp();
        openMainWindow();
    }
    void cleanup() { tearDown(); }

    // A source typed with a trailing backslash reads as without it.
    void workedExample()
    {
        m_drives->writeFile("C:\\Documenti\\a.txt", "aaa");
        m_drives->writeFile("C:\\Documenti\\Lettere\\b.txt", "bb");
        m_drives->makeDir("R:\\BKPQORL\\PC7_ufficio2");
        setPair(1, "C:\\Documenti\\", "R:\\BKPQORL\\PC7_ufficio2\\Documenti");
        QStringList lines;
        run().onStatus = [&](const QString& s) { lines << s; };
        QCOMPARE(run().CopiaCoppia(1), BackupRun::PassEnd::Finished);
        QCOMPARE(lines,
                 (QStringList{"Pulizia cartella di destinazione in corso...",
                              "Creazione cartella in corso in corso...", "Analisi in corso...",
                              "Copia in corso del file C:\\Documenti\\a.txt in "
                              "R:\\BKPQORL\\PC7_ufficio2\\Documenti\\a.txt ...",
                              "Copia in corso del file C:\\Documenti\\Lettere\\b.txt in "
                              "R:\\BKPQORL\\PC7_ufficio2\\Documenti\\Lettere\\b.txt ..."}));
        QCOMPARE(ui()->Lbl_file_copiati->text(), QStringLiteral("2"));
        QCOMPARE(ui()->Lbl_file_totali->text(), QStringLiteral("2"));
        QCOMPARE(ui()->Lbl_n_cartelle->text(), QStringLiteral("1"));
        QCOMPARE(ui()->Lbl_dim_file->text(), QStringLiteral("Dimensione file : 2,00 byte"));
        QCOMPARE(m_drives->readFile("R:\\BKPQORL\\PC7_ufficio2\\Documenti\\Lettere\\b.txt"),
                 QByteArray("bb"));
        // The file bar ends one step short, the folder bar full; the pending list is back to empty.
        QCOMPARE(ui()->Barra_file->value(), 2.0f);
        QCOMPARE(ui()->Barra_file->max(), 3.0f);
        QCOMPARE(ui()->Barra_totale->value(), ui()->Barra_totale->max());
        QCOMPARE(ui()->List1->count(), 0);
        QVERIFY(run().failures().isEmpty());
        // An empty source gives an empty mirror, counters of 0 and the scan's bar full.
        m_drives->makeDir("C:\\vuota");
        setPair(1, "C:\\vuota", "R:\\dest2");
        QCOMPARE(run().CopiaCoppia(1), BackupRun::PassEnd::Finished);
        QVERIFY(QFileInfo(m_drives->host("R:\\dest2")).isDir());
        QCOMPARE(ui()->Lbl_n_cartelle->text(), QStringLiteral("0"));
        QCOMPARE(ui()->Lbl_file_da_copiare->text(), QStringLiteral("0"));
        QCOMPARE(ui()->Barra_file->max(), 1.0f);
        QCOMPARE(ui()->Barra_file->value(), 0.0f);
        QCOMPARE(ui()->Barra_totale->max(), 1.0f);
        QCOMPARE(ui()->Barra_totale->value(), 1.0f);
        QCOMPARE(ui()->List1->count(), 0);
        QCOMPARE(ui()->Label_file_in_copia->text(), QStringLiteral("Analisi in corso..."));
    }

    // One file per folder: every yield of the copy comes right after the list lost a row.
    void pendingFoldersOnScreen()
    {
        for (int k = 0; k < 4; ++k)
            m_drives->writeFile(QString("C:\\Documenti\\Pratica %1\\f.txt").arg(k), "f");
        setPair(1, "C:\\Documenti", "R:\\dest");
        QStringList shown; // rows in the list, and whether the last yield drew any of them
        run().onStatus = [&](const QString& s) {
            if (!s.startsWith("Copia"))
                return;
            QWidget* list = ui()->List1->viewport();
            const QImage screen = m_form->screen()->grabWindow(m_form->winId()).toImage().copy(
                QRect(list->mapTo(m_form, QPoint()), list->size()));
            int ink = 0;
            for (int y = 0; y < screen.height(); ++y)
                for (int x = 0; x < screen.width(); ++x)
                    ink += qGray(screen.pixel(x, y)) < 128;
            shown << QString("%1 %2").arg(ui()->List1->count()).arg(ink > 20 ? "drawn" : "blank");
        };
        QCOMPARE(run().CopiaCoppia(1), BackupRun::PassEnd::Finished);
        QCOMPARE(shown, (QStringList{"3 drawn", "2 drawn", "1 drawn", "0 blank"}));
    }

    void mirrorsTheTree()
    {
        // The old backup holds files the source no longer has.
        m_drives->writeFile("R:\\dest\\vecchio.txt", "old");
        m_drives->writeFile("R:\\dest\\Sparita\\x.txt", "old");
        m_drives->writeFile("C:\\src\\uno.txt", "1");
        const QString ro = m_drives->writeFile("C:\\src\\sola lettura.txt", "ro");
        ::chmod(QFile::encodeName(ro).constData(), 0444);
        QFile f(ro);
        f.open(QIODevice::ReadOnly);
        f.setFileTime(QDateTime::fromSecsSinceEpoch(1'200'000'000),
                      QFileDevice::FileModificationTime);
        f.close();
        m_drives->makeDir("C:\\src\\vuota\\anche vuota");
        m_drives->writeFile("C:\\src\\a\\b\\profondo.txt", "deep");
        m_drives->writeFile("C:\\src\\.nascosto", "h");
        m_drives->writeFile("C:\\src\\.cartella\\dentro.txt", "h");
        ::mkfifo(QFile::encodeName(m_drives->host("C:\\src\\fifo")).constData(), 0644);
        // A link to a folder outside is copied as a folder; a cycle is walked once.
        m_drives->writeFile("C:\\fuori\\f.txt", "f");
        QFile::link(m_drives->host("C:\\fuori"), m_drives->host("C:\\src\\link"));
        QFile::link(m_drives->host("C:\\src"), m_drives->host("C:\\src\\a\\giro"));
        // Names a Windows path cannot carry: listed as not copied, never renamed or dropped.
        const QByteArray src = QFile::encodeName(m_drives->host("C:\\src"));
        for (const QByteArray& name : {QByteArray("con\\barra.txt"), QByteArray("l\xe0tin1.txt")})
            ::close(::creat((src + '/' + name).constData(), 0644));
        for (const QByteArray& name : {QByteArray("cartella\\barra"), QByteArray("cart\xe8lla")}) {
            ::mkdir((src + '/' + name).constData(), 0755);
            ::close(::creat((src + '/' + name + "/dentro.txt").constData(), 0644));
        }
        setPair(1, "C:\\src", "R:\\dest");
        QCOMPARE(run().CopiaCoppia(1), BackupRun::PassEnd::Finished);
        QCOMPARE(test::treeOf(m_drives->host("R:\\dest")),
                 (QStringList{"a", "a/b", "a/b/profondo.txt", "link", "link/f.txt",
                              "sola lettura.txt", "uno.txt", "vuota", "vuota/anche vuota"}));
        QCOMPARE(m_form->NumeroFile, 4);
        QCOMPARE(ui()->Lbl_file_da_copiare->text(), QStringLiteral("4"));
        const QFileInfo copied(m_drives->host("R:\\dest\\sola lettura.txt"));
        QCOMPARE(copied.lastModified(), QDateTime::fromSecsSinceEpoch(1'200'000'000));
        QCOMPARE(int(copied.permissions() & QFile::WriteOwner), 0);
        QStringList failed;
        for (const BackupFailure& f : run().failures())
            failed << f.path.section('\\', 2) + " : " + f.reason.left(20);
        failed.sort();
        QCOMPARE(failed, (QStringList{"cartella\\barra : il nome contiene \"\\\"",
                                      "cart\uFFFDlla : il nome contiene car",
                                      "con\\barra.txt : il nome contiene \"\\\"",
                                      "l\uFFFDtin1.txt : il nome contiene car"}));
    }

    // Faults that root would walk through: the pass runs again as "nobody".
    void unprivilegedFaults()
    {
        if (::getuid() != 0)
            QSKIP("needs root to drop to an unprivileged user");
        if (QStandardPaths::findExecutable("setpriv").isEmpty())
            QSKIP("setpriv is missing");
        QTemporaryDir base(QDir::tempPath() + "/archivon-nobody-XXXXXX");
        const QString drives = base.path() + "/drives";
        // Nobody owns the tree, except an old folder it cannot empty, a file and a
        // folder it cannot read, and the whole source of pair 2.
        const QString script = QStringLiteral(
            "chmod 777 '%1' && cd '%1/drives' && mkdir -p c/src/sub r/dest/vecchia c/src/chiusa "
            "c/src2 r/dest2 && echo -n 1 > c/src/uno.txt && echo -n 2 > c/src/sub/due.txt && "
            "echo s > c/src/segreto.txt && echo o > r/dest/vecchia/bloccato.txt && echo c > "
            "c/src/chiusa/x.txt && echo v > r/dest2/vecchio.txt && echo o > r/dest/via.txt && "
            "chown -R 65534:65534 . && chown -R 0:0 r/dest/vecchia c/src/segreto.txt c/src/chiusa "
            "c/src2 && chmod 600 c/src/segreto.txt && chmod 700 c/src/chiusa c/src2");
        QVERIFY(QDir().mkpath(drives));
        QCOMPARE(QProcess::execute("sh", {"-c", script.arg(base.path())}), 0);

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ARCHIVON_DRIVES", drives);
        env.insert("ARCHIVON_CHILD_PROGRAM", base.path());
        env.insert("HOME", base.path());
        child.setProcessEnvironment(env);
        child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                QCoreApplication::applicationFilePath(), "unprivilegedPass"});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAllStandardOutput() + child.readAllStandardError();
        QVERIFY2(child.exitCode() == 0, out.constData());
        QVERIFY2(out.contains("PASS   : TestPairPass::unprivilegedPass()"), out.constData());
    }

    // Runs only inside unprivilegedFaults, as the unprivileged user.
    void unprivilegedPass()
    {
        if (qEnvironmentVariableIsEmpty("ARCHIVON_CHILD_PROGRAM"))
            QSKIP("runs as the child of unprivilegedFaults");
        m_drives.reset(); // the parent's drive folder is in the environment
        platform::setProgramFolderForTesting(qEnvironmentVariable("ARCHIVON_CHILD_PROGRAM"));
        setPair(1, "C:\\src", "R:\\dest");
        setPair(2, "C:\\src2", "R:\\dest2");
        setPair(3, "C:\\manca3", "R:\\dest3");
        setPair(4, "C:\\manca4", "R:\\dest4");
        m_boxes.answerYes();
        ui()->Command3->click();
        QStringList failed;
        for (const BackupFailure& f : run().failures())
            failed << f.path + " : " + f.reason;
        failed.sort();
        QCOMPARE(
            failed,
            (QStringList{
                "C:\\src2 : impossibile leggere la cartella sorgente (accesso negato): "
                "coppia saltata, il backup precedente è rimasto",
                "C:\\src\\chiusa : impossibile leggere la cartella (accesso negato)",
                "C:\\src\\segreto.txt : accesso negato",
                "R:\\.dest.archivon-vecchio\\vecchia\\bloccato.txt : impossibile eliminare il file "
                "dal backup precedente",
            }));
        QCOMPARE(
            ui()->Label_file_in_copia->text(),
            QStringLiteral("Operazione completata con 4 errori: alcuni elementi non sono stati "
                           "copiati (vedere l'elenco). Saltate 2 cartelle sorgente inesistenti."));
        const auto read = [](const QString& p) {
            QFile f(*platform::toHost(p));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QCOMPARE(read("R:\\dest\\uno.txt"), QByteArray("1"));
        QCOMPARE(read("R:\\dest\\sub\\due.txt"), QByteArray("2"));
        QVERIFY(!QFileInfo::exists(*platform::toHost("R:\\dest\\via.txt")));
        QVERIFY(!QFileInfo::exists(*platform::toHost("R:\\dest\\segreto.txt")));
        QCOMPARE(read("R:\\dest2\\vecchio.txt"), QByteArray("v\n")); // not an empty source
    }
};

QTEST_MAIN(TestPairPass)
#include "tst_pairpass.moc"
