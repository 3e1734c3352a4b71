#include "videoplayer.h"

#include <QFile>
#include <QMediaPlayer>
#include <QPainter>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

namespace {

// "/x" and "x" name the same video.
QString bareName(const QString &name)
{
    return name.startsWith(QLatin1Char('/')) ? name.mid(1) : name;
}

} // namespace

VideoPlayerView::VideoPlayerView(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
}

VideoPlayerView::~VideoPlayerView()
{
    // The player's pipeline threads deliver frames to the sink: stop and
    // free it before the sink goes.
    if (m_player) {
        m_player->stop();
        delete m_player;
    }
    delete m_sink;
}

void VideoPlayerView::setVideoFileName(const QString &name)
{
    if (m_started || name == m_videoFileName)
        return;
    m_videoFileName = name;
    Q_EMIT videoFileNameChanged();
    if (isComponentComplete())
        start();
}

void VideoPlayerView::componentComplete()
{
    QQuickPaintedItem::componentComplete();
    start();
}

void VideoPlayerView::start()
{
    if (m_started || m_videoFileName.isEmpty())
        return;
    m_started = true;

    // The videos are compiled into the program's resources under /videos/
    // (see CMakeLists.txt): the GStreamer backend of Qt 6.4 plays and seeks
    // them from qrc, and the program needs no folder of files beside it.
    const QString path = QStringLiteral("/videos/%1.mp4").arg(bareName(m_videoFileName));
    if (!QFile::exists(QLatin1Char(':') + path)) {
        qWarning("Failed to locate video file in bundle. (%s)", qUtf8Printable(bareName(m_videoFileName)));
        return;
    }

    // No audio output: the videos are silent, and one would open a sound
    // server connection for nothing.
    m_player = new QMediaPlayer(this);
    m_sink = new QVideoSink(this);
    m_player->setVideoSink(m_sink);
    // Frames come from the pipeline's thread; the queued connection lands
    // them here, and drops them once this item is gone.
    connect(m_sink, &QVideoSink::videoFrameChanged, this, &VideoPlayerView::showFrame, Qt::QueuedConnection);
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::EndOfMedia) {
            m_player->setPosition(0);
            m_player->play();
        }
    });
    QUrl url;
    url.setScheme(QStringLiteral("qrc"));
    url.setPath(path);
    m_player->setSource(url);
    m_player->play();
}

void VideoPlayerView::showFrame(const QVideoFrame &frame)
{
    m_frame = QVideoFrame(frame).toImage();
    update();
}

void VideoPlayerView::paint(QPainter *painter)
{
    if (m_frame.isNull() || width() <= 0 || height() <= 0)
        return;
    // Fill the item keeping the aspect ratio: the part of the frame that
    // overflows is cut off evenly on both sides.
    const qreal scale = std::max(width() / m_frame.width(), height() / m_frame.height());
    const QSizeF shown(width() / scale, height() / scale);
    const QRectF source(QPointF((m_frame.width() - shown.width()) / 2, (m_frame.height() - shown.height()) / 2), shown);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(QRectF(0, 0, width(), height()), m_frame, source);
}
