#include "layout/animatedpicture.h"

#include "platform/drives.h"

#include <QMovie>

namespace archivon {

AnimatedPicture::AnimatedPicture(QWidget* parent) : QLabel(parent)
{
    setScaledContents(true);
}

AnimatedPicture::~AnimatedPicture() = default;

void AnimatedPicture::setFile(const QString& path)
{
    m_file = path;
    if (m_movie) {
        m_movie->stop();
        m_movie->deleteLater();
        m_movie = nullptr;
    }
    clear();

    const auto host = platform::toHost(path);
    if (!host)
        return;
    auto* movie = new QMovie(*host, QByteArray(), this);
    if (!movie->isValid()) {
        delete movie;
        return;
    }
    // A GIF without a loop count plays once; the picture is meant to keep going.
    connect(movie, &QMovie::finished, this, &AnimatedPicture::restartAtEnd, Qt::QueuedConnection);
    m_movie = movie;
    setMovie(m_movie);
}

void AnimatedPicture::start()
{
    if (!m_movie)
        return;
    m_movie->stop();
    m_movie->start();
}

void AnimatedPicture::stop()
{
    if (m_movie)
        m_movie->setPaused(true);
}

bool AnimatedPicture::isPlaying() const
{
    return m_movie && m_movie->state() == QMovie::Running;
}

void AnimatedPicture::restartAtEnd()
{
    if (m_movie)
        m_movie->start();
}

} // namespace archivon
