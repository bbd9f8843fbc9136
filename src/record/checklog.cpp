#include "record/checklog.h"

#include "platform/filesystem.h"
#include "platform/textfile.h"

#include <QStringList>

namespace archivon {

using namespace platform;

namespace {
const QByteArray kMagic = QByteArrayLiteral("archivon-verifica\t1\n");
// The file is read from its end: a few thousand checks fit in this.
constexpr qint64 kLargest = 4 * 1024 * 1024;

constexpr const char* kOutcomes[] = {"integro", "problemi", "interrotta", "ceduta"};

QString field(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return out;
}
} // namespace

QString checkLogPath(const QString& backupRoot) { return backupRoot + QLatin1Char('\\') + kCheckLogName; }

QString checkOutcomeName(CheckOutcome outcome) { return QString::fromLatin1(kOutcomes[int(outcome)]); }

Status appendCheckSummary(const QString& backupRoot, const CheckSummary& s)
{
    const QString path = checkLogPath(backupRoot);
    const QStringList fields = {QStringLiteral("verifica"),
                                s.start.toOffsetFromUtc(s.start.offsetFromUtc()).toString(Qt::ISODate),
                                s.end.toOffsetFromUtc(s.end.offsetFromUtc()).toString(Qt::ISODate),
                                checkOutcomeName(s.outcome),
                                QString::number(s.read),
                                QString::number(s.total),
                                QString::number(s.damaged),
                                QString::number(s.changed),
                                QString::number(s.readLately),
                                field(s.user),
                                field(s.host)};
    QByteArray text = fields.join(QLatin1Char('\t')).toUtf8() + '\n';
    // A file not there yet begins with its header. readSmallFile() tells no
    // missing file from another failure, so the file's attributes say it.
    const auto there = attributes(path);
    const auto before = readSmallFile(path, kLargest);
    if ((!there && there.kind() == ErrorKind::NotFound) || (before && before.value().isEmpty()))
        text.prepend(kMagic);
    return appendToFile(path, text);
}

CheckHistory lastCheck(const QString& backupRoot)
{
    CheckHistory history;
    const auto text = readSmallFile(checkLogPath(backupRoot), kLargest);
    if (!text || !text.value().startsWith(kMagic))
        return history;
    const QList<QByteArray> lines = text.value().split('\n');
    // The last line is what follows the last LF: empty, or cut short.
    for (qsizetype i = lines.size() - 2; i >= 1; --i) {
        const QStringList f = QString::fromUtf8(lines[i]).split(QLatin1Char('\t'));
        if (f.size() < 11 || f[0] != QLatin1String("verifica"))
            continue;
        CheckSummary s;
        s.start = QDateTime::fromString(f[1], Qt::ISODate);
        s.end = QDateTime::fromString(f[2], Qt::ISODate);
        int outcome = -1;
        for (int k = 0; k < 4; ++k)
            if (f[3] == QLatin1String(kOutcomes[k]))
                outcome = k;
        bool ok[5] = {};
        s.read = f[4].toLongLong(&ok[0]);
        s.total = f[5].toLongLong(&ok[1]);
        s.damaged = f[6].toLongLong(&ok[2]);
        s.changed = f[7].toLongLong(&ok[3]);
        s.readLately = f[8].toLongLong(&ok[4]);
        if (!s.start.isValid() || !s.end.isValid() || outcome < 0 || !(ok[0] && ok[1] && ok[2] && ok[3] && ok[4]))
            continue;
        s.outcome = CheckOutcome(outcome);
        s.user = f[9];
        s.host = f[10];
        if (!history.last)
            history.last = s;
        if (s.outcome == CheckOutcome::Whole || s.outcome == CheckOutcome::Problems) {
            history.lastFinished = s;
            break;
        }
    }
    return history;
}

} // namespace archivon
