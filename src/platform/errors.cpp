#include "platform/errors.h"

#include <cerrno>
#include <cstring>

namespace archivon::platform {

QString reasonFor(int error)
{
    switch (error) {
    case ENOENT:
        return QStringLiteral("file o cartella inesistente");
    case EACCES:
    case EPERM:
        return QStringLiteral("accesso negato");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("spazio su disco esaurito");
    case EROFS:
        return QStringLiteral("disco protetto in scrittura");
    case EEXIST:
        return QStringLiteral("esiste già");
    case ENOTEMPTY:
        return QStringLiteral("la cartella non è vuota");
    case ENOTDIR:
        return QStringLiteral("il percorso non è una cartella");
    case EISDIR:
        return QStringLiteral("il percorso è una cartella");
    case EIO:
        return QStringLiteral("errore di lettura o scrittura sul disco");
    case EFBIG:
        return QStringLiteral("file troppo grande per la destinazione");
    case ENAMETOOLONG:
        return QStringLiteral("nome troppo lungo");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("file in uso");
    case ECANCELED:
        return QStringLiteral("copia interrotta");
    case EXDEV:
        return QStringLiteral("si trova su un altro disco");
    default:
        return QStringLiteral("errore di sistema %1 (%2)")
            .arg(error)
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

ErrorKind kindOf(int error)
{
    switch (error) {
    case 0:
        return ErrorKind::None;
    case ENOSPC:
    case EDQUOT:
        return ErrorKind::NoSpace;
    case ENOENT:
        return ErrorKind::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrorKind::NoAccess;
    case ENAMETOOLONG:
        return ErrorKind::NameRefused;
    case EEXIST:
        return ErrorKind::Exists;
    case EXDEV:
        return ErrorKind::OtherDisk;
    case ENOTEMPTY:
        return ErrorKind::NotEmpty;
    case ECANCELED:
        return ErrorKind::Cancelled;
    default:
        return ErrorKind::Other;
    }
}

QString driveNotReadyReason() { return QStringLiteral("unità non pronta o percorso non valido"); }

Status driveNotReady() { return Status::failure(ErrorKind::DriveLost, driveNotReadyReason()); }

} // namespace archivon::platform

namespace archivon {

Status Status::fromErrno(int errorNumber)
{
    return failure(platform::kindOf(errorNumber), platform::reasonFor(errorNumber), errorNumber);
}

} // namespace archivon
