#include "platform/drives.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace archivon;
using namespace archivon::platform;

// Where the program writes depends on where its executable lies and who runs
// it, so each case runs a copy of this test program from a folder laid out as
// a build or as an install, as root or as "nobody", and reads back what the
// copy found.
class TestProgramFolder : public QObject
{
    Q_OBJECT

private slots:
    void chosenByLayoutAndUser_data()
    {
        QTest::addColumn<QString>("layout"); // "copy": gifs beside it; "installed": bin + share
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<bool>("dataWritable"); // can the user make $XDG_DATA_HOME/archivon?
        QTest::addColumn<QString>("program");   // "exe" or "data"
        QTest::addColumn<QString>("animation"); // folder the animation is found in
        // clang-format off
        QTest::newRow("a copy of the user's") << "copy" << false << true << "exe" << "exe";
        QTest::newRow("a copy in a read-only folder") << "copy" << true << true << "data" << "exe";
        QTest::newRow("installed, run by a user") << "installed" << true << true << "data" << "share";
        QTest::newRow("installed, run by root") << "installed" << false << true << "data" << "share";
        QTest::newRow("installed, no data folder") << "installed" << true << false << "data" << "share";
        // clang-format on
    }
    void chosenByLayoutAndUser()
    {
        QFETCH(QString, layout);
        QFETCH(bool, asNobody);
        QFETCH(bool, dataWritable);
        QFETCH(QString, program);
        QFETCH(QString, animation);
        if (::getuid() != 0)
            QSKIP("needs root to lay out folders for another user");

        QTemporaryDir base(QDir::tempPath() + "/archivon-folders-XXXXXX");
        QVERIFY(base.isValid());
        const QString exeDir = base.path() + "/prefix/bin";
        const QString share = base.path() + "/prefix/share/archivon";
        const QString dataHome = base.path() + "/home/data";
        const QString gifDir = layout == "copy" ? exeDir : share;
        // The home is the user's; without a writable data home it is read-only.
        const QString script = QStringLiteral(
            "cd '%1' && chmod 755 . && mkdir -p prefix/bin '%2' home drives && cp '%3' '%4' && "
            "cp '%5' '%2/anim.gif' && chmod -R a+rX prefix && chown -R %6 home && chmod %7 home");
        QCOMPARE(QProcess::execute(
                     "sh",
                     {"-c", script.arg(base.path(), gifDir, QCoreApplication::applicationFilePath(),
                                       exeDir + "/tst_programfolder",
                                       QFINDTESTDATA("../../resources/anim.gif"),
                                       QString(asNobody ? "65534:65534" : "0:0"),
                                       QString(dataWritable ? "755" : "555"))}),
                 0);

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", dataHome);
        env.insert("HOME", base.path() + "/home");
        env.insert("ARCHIVON_DRIVES", base.path() + "/drives");
        env.insert("ARCHIVON_CHILD_FOLDERS", "1");
        child.setProcessEnvironment(env);
        QStringList args{exeDir + "/tst_programfolder", "report", "-o", "-,txt"};
        if (asNobody)
            args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + args;
        child.start(asNobody ? "setpriv" : args.takeFirst(), args);
        QVERIFY(child.waitForFinished(60000));
        const QString out = QString::fromLocal8Bit(child.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(child.readAllStandardError());
        QVERIFY2(child.exitCode() == 0, qPrintable(out + err));

        const auto reported = [&](const QString& key) {
            return QRegularExpression("REPORT " + key + "=(.*)").match(out).captured(1).trimmed();
        };
        const QMap<QString, QString> folderOf{
            {"exe", exeDir}, {"data", dataHome + "/archivon"}, {"share", share}};
        QCOMPARE(reported("program"), folderOf[program]);
        QCOMPARE(reported("animation"), folderOf[animation] + "/anim.gif");
        // The executable's folder of an install is never written, not even by root.
        if (program == "data") {
            QVERIFY(!QFileInfo::exists(exeDir + "/marker"));
            QCOMPARE(QFileInfo::exists(dataHome + "/archivon/marker"), dataWritable);
        }
        // A folder that cannot be made is said, not silently lost.
        QCOMPARE(
            err.contains("impossibile creare la cartella del programma " + dataHome + "/archivon"),
            !dataWritable);
    }

    // Runs only inside the copies started above.
    void report()
    {
        if (qEnvironmentVariableIsEmpty("ARCHIVON_CHILD_FOLDERS"))
            QSKIP("runs in the copies started by chosenByLayoutAndUser");
        const QString program = programHostFolder();
        qInfo().noquote() << "REPORT program=" + QDir::cleanPath(program);
        qInfo().noquote() << "REPORT animation=" + *toHost(dataFile("anim.gif"));
        QFile marker(program + "/marker");
        if (marker.open(QIODevice::WriteOnly))
            marker.write("x");
    }
};

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
