#include "fileservices/blockcopy.h"

#include "platform/drives.h"
#include "platform/yield.h"

#include <QFile>

namespace archivon {

namespace {

constexpr qint64 BlockSize = 1024;

Status fileFailure(const char* what, const QString& path, const QFile& file)
{
    return Status::failure(
        QStringLiteral("%1 %2: %3").arg(QLatin1String(what), path, file.errorString()));
}

} // namespace

Status CopiaFile(const QString& Origine, const QString& Destinazione, ProgressTarget& prBarra)
{
    prBarra.setMax(100);
    prBarra.setMin(0);
    if (!prBarra.setValue(0))
        return Status::failure(QStringLiteral("progress bar refused the value 0"));

    const auto sourcePath = platform::toHost(Origine);
    if (!sourcePath)
        return Status::failure(QStringLiteral("drive not ready or bad path: %1").arg(Origine));
    const auto destinationPath = platform::toHost(Destinazione);
    if (!destinationPath)
        return Status::failure(QStringLiteral("drive not ready or bad path: %1").arg(Destinazione));

    QFile source(*sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return fileFailure("cannot open source", Origine, source);
    const qint64 totale = source.size();

    // Not truncated on opening but rewritten from the start and cut at the
    // end, so that a copy of a file onto itself leaves it as it was.
    QFile destination(*destinationPath);
    if (!destination.open(QIODevice::ReadWrite))
        return fileFailure("cannot open destination", Destinazione, destination);

    char block[BlockSize];
    qint64 rimanente = totale;
    int ultimo = 0;
    // One pass at least: an empty source still makes an empty destination.
    do {
        const qint64 size = qMin(BlockSize, rimanente);
        if (source.read(block, size) != size)
            return fileFailure("cannot read source", Origine, source);
        if (destination.write(block, size) != size)
            return fileFailure("cannot write destination", Destinazione, destination);
        rimanente -= size;

        if (totale > 0) {
            const int value = 100 - int(rimanente * 100 / totale);
            if (!prBarra.setValue(float(value)))
                return Status::failure(
                    QStringLiteral("progress bar refused the value %1").arg(value));
            if (value != ultimo) {
                platform::yield();
                ultimo = value;
            }
        }
    } while (rimanente > 0);

    if (!destination.resize(totale) || !destination.flush())
        return fileFailure("cannot finish destination", Destinazione, destination);
    return {};
}

} // namespace archivon
