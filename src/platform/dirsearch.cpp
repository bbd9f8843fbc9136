#include "platform/filesystem.h"

#include "platform/filesystem_p.h"

#include <QRegularExpression>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Directory searches by pattern and attribute mask.
namespace archivon::platform {

using namespace fs;

struct DirSearch::Impl
{
    DIR* dir = nullptr;
    QByteArray folder; // host, ending in '/'
    Status status;
    unsigned mask = 0;
    bool matchAll = true;
    QRegularExpression pattern;
    QList<DirSearch::Uncarried> uncarried;
    QString single; // an exact name, answered once
    bool singleDone = true;
    unsigned singleAttributes = 0;
    unsigned last = 0;
    bool wantDetails = false;
    DirSearch::Details details;

    bool accepts(unsigned attrs) const
    {
        return (attrs & (Hidden | System | Directory) & ~mask) == 0;
    }
};

DirSearch::DirSearch(const QString& pattern, unsigned mask, bool details)
    : d(std::make_unique<Impl>())
{
    d->mask = mask;
    d->wantDetails = details;
    QString folderPart;
    QString namePart;
    const bool trailing = !pattern.isEmpty() && isSeparator(pattern.back());
    const bool driveOnly = pattern.size() == 2 && pattern.at(1) == QLatin1Char(':');
    if (trailing || driveOnly) {
        folderPart = driveOnly ? pattern + QLatin1Char('\\') : pattern;
    } else {
        int cut = -1;
        for (int i = pattern.size() - 1; i >= 0; --i) {
            if (isSeparator(pattern.at(i)) || (i == 1 && pattern.at(1) == QLatin1Char(':'))) {
                cut = i;
                break;
            }
        }
        folderPart = cut < 0 ? QString() : pattern.left(cut + 1);
        namePart = pattern.mid(cut + 1);
    }

    if (!namePart.isEmpty() && !hasWildcard(namePart)) {
        // A plain path: the search answers with that one entry, if it qualifies.
        const auto attrs = attributes(pattern);
        if (!attrs) {
            d->status = attrs.status();
            return;
        }
        const auto resolved = resolve(pattern);
        if (d->accepts(*attrs) && resolved && !resolved->components.isEmpty()) {
            if (details) {
                const auto host = hostBytes(pattern);
                struct stat st {};
                if (host && ::stat(host->constData(), &st) == 0)
                    d->details = detailsOf(st);
                d->details.link = host && ::lstat(host->constData(), &st) == 0 && S_ISLNK(st.st_mode);
            }
            d->single = resolved->components.last();
            d->singleAttributes = *attrs;
            d->singleDone = false;
        }
        return;
    }

    const auto host = toHost(folderPart.isEmpty() ? QStringLiteral(".") : folderPart);
    if (!host) {
        d->status = driveNotReady();
        return;
    }
    d->folder = encoded(*host);
    if (!d->folder.endsWith('/'))
        d->folder += '/';
    d->dir = ::opendir(d->folder.constData());
    if (!d->dir) {
        d->status = Status::fromErrno(errno);
        return;
    }
    d->matchAll = namePart.isEmpty() || namePart == QLatin1String("*") ||
                  namePart == QLatin1String("*.*");
    if (!d->matchAll) {
        const QString wild = namePart;
        d->pattern = QRegularExpression(
            QRegularExpression::wildcardToRegularExpression(wild),
            QRegularExpression::CaseInsensitiveOption);
    }
}

DirSearch::~DirSearch()
{
    if (d->dir)
        ::closedir(d->dir);
}

bool DirSearch::ok() const { return d->status.ok(); }

QString DirSearch::error() const { return d->status.error(); }

const Status& DirSearch::status() const { return d->status; }

QString DirSearch::next()
{
    if (!d->singleDone) {
        d->singleDone = true;
        d->last = d->singleAttributes;
        return d->single;
    }
    if (!d->dir)
        return {};
    for (;;) {
        errno = 0;
        struct dirent* e = ::readdir(d->dir);
        if (!e) {
            // The end of the folder, or a folder that could not be read to its end.
            if (errno != 0)
                d->status = Status::fromErrno(errno);
            break;
        }
        const char* raw = e->d_name;
        if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
            continue;
        const bool hidden = raw[0] == '.';
        if (hidden && !(d->mask & Hidden))
            continue;
        const QString name = QFile::decodeName(raw);
        if (!d->matchAll && !d->pattern.match(name).hasMatch())
            continue;
        unsigned attrs = 0;
        if (d->wantDetails) {
            // A close look at every entry, through symlinks, relative to the open folder.
            struct stat st {};
            d->details = {};
            if (::fstatat(::dirfd(d->dir), raw, &st, 0) == 0) {
                attrs = attributesFromStat(st, name) & ~unsigned(ReadOnly);
                d->details = detailsOf(st);
            } else {
                // A name that leads nowhere (gone, a dangling link, a link to
                // itself or round a loop of links, or through a file) is a
                // system entry; one that cannot be reached (a folder that can
                // be listed but not entered) means the folder was not read
                // to its end, never that the entry is not there.
                const bool nowhere = errno == ENOENT || errno == ELOOP || errno == ENOTDIR;
                if (!nowhere && d->status.ok())
                    d->status = Status::fromErrno(errno);
                attrs = System | (hidden ? unsigned(Hidden) : 0u);
            }
            d->details.link = e->d_type == DT_LNK ||
                              (e->d_type == DT_UNKNOWN &&
                               ::fstatat(::dirfd(d->dir), raw, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                               S_ISLNK(st.st_mode));
        } else if (e->d_type == DT_REG) {
            attrs = Archive | (hidden ? unsigned(Hidden) : 0u);
        } else if (e->d_type == DT_DIR) {
            attrs = Directory | (hidden ? unsigned(Hidden) : 0u);
        } else {
            // Symlinks and unknown types: look at what the entry leads to.
            struct stat st {};
            const QByteArray full = d->folder + raw;
            if (::stat(full.constData(), &st) == 0)
                attrs = attributesFromStat(st, name);
            else
                attrs = System | (hidden ? unsigned(Hidden) : 0u);
        }
        if (!d->accepts(attrs))
            continue;
        if (name.contains(QLatin1Char('\\'))) {
            d->uncarried.append({name, attrs, QStringLiteral("il nome contiene \"\\\", che un "
                                                              "percorso di Windows non può contenere")});
            continue;
        }
        if (QFile::encodeName(name) != QByteArrayView(raw)) {
            d->uncarried.append({name, attrs, QStringLiteral("il nome contiene caratteri non validi "
                                                              "nella codifica del sistema")});
            continue;
        }
        d->last = attrs;
        return name;
    }
    ::closedir(d->dir);
    d->dir = nullptr;
    return {};
}

unsigned DirSearch::lastAttributes() const { return d->last; }

const DirSearch::Details& DirSearch::lastDetails() const { return d->details; }

const QList<DirSearch::Uncarried>& DirSearch::uncarried() const { return d->uncarried; }

bool anyMatch(const QString& pattern, unsigned mask)
{
    DirSearch search(pattern, mask);
    return search.ok() && !search.next().isEmpty();
}
} // namespace archivon::platform
