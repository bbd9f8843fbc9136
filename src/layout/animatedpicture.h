#pragma once

#include <QLabel>
#include <QString>

class QMovie;

namespace archivon {

/// An area that plays an animated image, stretched to its size, over and over.
/// A file that is missing or cannot be read shows nothing and reports nothing.
class AnimatedPicture final : public QLabel
{
    Q_OBJECT

public:
    explicit AnimatedPicture(QWidget* parent = nullptr);
    ~AnimatedPicture() override;

    /// Picture file as a Windows-form path ("C:\Programmi\Archivon\anim.gif").
    void setFile(const QString& path);
    QString file() const { return m_file; }

    /// Plays the file from its first frame, replacing what played before.
    void start();

    /// Holds the animation on the frame it shows.
    void stop();

    /// True while an animation is playing.
    bool isPlaying() const;

private:
    void restartAtEnd();

    QString m_file;
    QMovie* m_movie = nullptr;
};

} // namespace archivon
