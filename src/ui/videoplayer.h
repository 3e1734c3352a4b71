#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

class QMediaPlayer;
class QVideoFrame;
class QVideoSink;

// The frame as an image, converted here for the YUV layouts decoders give.
// Qt's own QVideoFrame::toImage() converts through a GPU context of its
// thread, which loads the whole OpenGL stack (Mesa's LLVM where rendering is
// in software) into the tray and keeps it for the life of the process.
QImage videoFrameImage(const QVideoFrame &frame);

// Plays the named video of the program's resources, silently and looping
// forever, scaled to fill the item and cropped, without controls.
//
// QtMultimedia's VideoOutput draws nothing under the software scene graph
// the windows use (Qt 6.4 renders video frames only through the RHI), so
// the frames come from a QVideoSink and are painted here.
class VideoPlayerView : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    // "demo_x" or "/demo_x": the resource videos/demo_x.mp4. Taken once:
    // a later name neither replaces nor restarts the video that plays.
    Q_PROPERTY(QString videoFileName READ videoFileName WRITE setVideoFileName NOTIFY videoFileNameChanged)

public:
    explicit VideoPlayerView(QQuickItem *parent = nullptr);
    ~VideoPlayerView() override;

    QString videoFileName() const { return m_videoFileName; }
    void setVideoFileName(const QString &name);

    // The player of the video; null before it starts and when the video
    // does not exist.
    QMediaPlayer *player() const { return m_player; }

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void videoFileNameChanged();

protected:
    void componentComplete() override;

private:
    void start();
    void showFrame(const QVideoFrame &frame);

    QString m_videoFileName;
    bool m_started = false;
    QMediaPlayer *m_player = nullptr;
    QVideoSink *m_sink = nullptr;
    QImage m_frame;
};
