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

namespace {

struct YuvToRgb
{
    // Fixed-point coefficients, scaled by 256.
    int luma, rFromV, gFromU, gFromV, bFromU;
    int lumaOffset;
};

YuvToRgb coefficients(const QVideoFrameFormat &format)
{
    const bool bt709 = format.colorSpace() == QVideoFrameFormat::ColorSpace_BT709;
    if (format.colorRange() == QVideoFrameFormat::ColorRange_Full)
        return bt709 ? YuvToRgb{256, 403, 48, 120, 475, 0} : YuvToRgb{256, 359, 88, 183, 454, 0};
    return bt709 ? YuvToRgb{298, 459, 55, 136, 541, 16} : YuvToRgb{298, 409, 100, 208, 516, 16};
}

// Planar or semi-planar 4:2:0: a full-size luma plane and chroma at half
// the width and height, either in two planes or interleaved in one.
QImage fromYuv420(const QVideoFrame &frame, const uchar *u, const uchar *v, int chromaStride, int chromaStep)
{
    const YuvToRgb k = coefficients(frame.surfaceFormat());
    const int width = frame.width();
    const int height = frame.height();
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const auto clamp = [](int value) { return value < 0 ? 0 : value > 255 ? 255 : value; };
    for (int y = 0; y < height; ++y) {
        const uchar *luma = frame.bits(0) + y * frame.bytesPerLine(0);
        const uchar *uRow = u + (y / 2) * chromaStride;
        const uchar *vRow = v + (y / 2) * chromaStride;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int c = k.luma * (luma[x] - k.lumaOffset);
            const int d = uRow[(x / 2) * chromaStep] - 128;
            const int e = vRow[(x / 2) * chromaStep] - 128;
            out[x] = qRgb(clamp((c + k.rFromV * e + 128) >> 8), clamp((c - k.gFromU * d - k.gFromV * e + 128) >> 8),
                          clamp((c + k.bFromU * d + 128) >> 8));
        }
    }
    return image;
}

} // namespace

QImage videoFrameImage(const QVideoFrame &source)
{
    QVideoFrame frame(source);
    if (!frame.isValid() || !frame.map(QVideoFrame::ReadOnly))
        return {};
    QImage image;
    const QImage::Format direct = QVideoFrameFormat::imageFormatFromPixelFormat(frame.pixelFormat());
    bool converted = true;
    if (direct != QImage::Format_Invalid) {
        image = QImage(frame.bits(0), frame.width(), frame.height(), frame.bytesPerLine(0), direct).copy();
    } else {
        switch (frame.pixelFormat()) {
        case QVideoFrameFormat::Format_YUV420P:
            image = fromYuv420(frame, frame.bits(1), frame.bits(2), frame.bytesPerLine(1), 1);
            break;
        case QVideoFrameFormat::Format_YV12:
            image = fromYuv420(frame, frame.bits(2), frame.bits(1), frame.bytesPerLine(1), 1);
            break;
        case QVideoFrameFormat::Format_NV12:
            image = fromYuv420(frame, frame.bits(1), frame.bits(1) + 1, frame.bytesPerLine(1), 2);
            break;
        case QVideoFrameFormat::Format_NV21:
            image = fromYuv420(frame, frame.bits(1) + 1, frame.bits(1), frame.bytesPerLine(1), 2);
            break;
        default:
            converted = false;
            break;
        }
    }
    frame.unmap();
    // Any other layout: Qt's conversion, whatever it loads.
    return converted ? image : frame.toImage();
}

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
    m_frame = videoFrameImage(frame);
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
