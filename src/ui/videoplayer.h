#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

#include <memory>

struct AVFrame;
class QQuickWindow;
class VideoDecoder;

// The decoded frame as an image, converted here for the layouts H.264
// decoders give (planar and semi-planar YUV) and plain RGB. Null for any
// other layout.
QImage videoFrameImage(const AVFrame &frame);

// A video of the program's resources played endlessly at its own pace:
// decoded ahead on a thread of its own, each frame shown at its time. Not
// shown, it neither decodes nor keeps a timer.
class VideoPlayer : public QObject
{
    Q_OBJECT

public:
    // Null when the resource holds no video that can be played.
    static std::unique_ptr<VideoPlayer> open(const QString &resourcePath);
    ~VideoPlayer() override;

    QString source() const { return m_source; }
    qint64 duration() const;
    // Of the frame shown, within the video.
    qint64 position() const { return m_position; }
    bool isPlaying() const { return m_shown; }
    QImage frame() const { return m_frame; }

    void setShown(bool shown);

Q_SIGNALS:
    void frameChanged();
    void positionChanged(qint64 position);

private:
    VideoPlayer() = default;
    void showDueFrames();

    QString m_source;
    std::unique_ptr<VideoDecoder> m_decoder;
    bool m_shown = false;
    QImage m_frame;
    qint64 m_position = 0;
    // Video time = m_clockBase + m_clock's elapsed time, while shown.
    QElapsedTimer m_clock;
    qint64 m_clockBase = 0;
    QTimer m_due;
};

// Plays the named video of the program's resources, silently and looping
// forever, scaled to fill the item and cropped, without controls. Drawn by
// the scene graph, the software one included.
class VideoPlayerView : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    // "demo_x" or "/demo_x": the resource videos/demo_x.mp4. Taken once:
    // a later name neither replaces nor restarts the video that plays.
    Q_PROPERTY(QString videoFileName READ videoFileName WRITE setVideoFileName NOTIFY videoFileNameChanged)

public:
    explicit VideoPlayerView(QQuickItem *parent = nullptr);
    // Stops the decoding and waits for its thread.
    ~VideoPlayerView() override;

    QString videoFileName() const { return m_videoFileName; }
    void setVideoFileName(const QString &name);

    // The player of the video; null before it starts and when the video
    // does not exist.
    VideoPlayer *player() const { return m_player.get(); }

Q_SIGNALS:
    void videoFileNameChanged();

protected:
    void componentComplete() override;
    void itemChange(ItemChange change, const ItemChangeData &data) override;
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;

private:
    void start();
    void followWindow(QQuickWindow *window);

    QString m_videoFileName;
    bool m_started = false;
    std::unique_ptr<VideoPlayer> m_player;
    QPointer<QQuickWindow> m_window;
    QMetaObject::Connection m_windowVisibility;
    bool m_frameChanged = false;
};
