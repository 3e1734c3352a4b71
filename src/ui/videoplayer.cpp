#include "videoplayer.h"

#include "ffmpeg.h"
#include "videodecoder.h"

#include <QQuickWindow>
#include <QResource>
#include <QSGImageNode>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// "/x" and "x" name the same video.
QString bareName(const QString &name)
{
    return name.startsWith(QLatin1Char('/')) ? name.mid(1) : name;
}

struct YuvToRgb
{
    // Fixed-point coefficients, scaled by 256.
    int luma, rFromV, gFromU, gFromV, bFromU;
    int lumaOffset;
};

YuvToRgb coefficients(const AVFrame &frame)
{
    const bool bt709 = frame.colorspace == AVCOL_SPC_BT709;
    const auto format = AVPixelFormat(frame.format);
    const bool full = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P
                      || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    if (full)
        return bt709 ? YuvToRgb{256, 403, 48, 120, 475, 0} : YuvToRgb{256, 359, 88, 183, 454, 0};
    return bt709 ? YuvToRgb{298, 459, 55, 136, 541, 16} : YuvToRgb{298, 409, 100, 208, 516, 16};
}

// 8-bit YUV: a full-size luma plane and chroma subsampled by 2^shiftX
// across and 2^shiftY down, in two planes or interleaved in one (step 2).
// The products come from tables, once per chroma sample: this runs for
// every pixel of every frame.
QImage fromYuv(const AVFrame &frame, const uchar *u, const uchar *v, int chromaStride, int chromaStep, int shiftX,
               int shiftY)
{
    const YuvToRgb k = coefficients(frame);
    QImage image(frame.width, frame.height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    std::array<int, 256> luma{}, rFromV{}, gFromU{}, gFromV{}, bFromU{};
    for (int i = 0; i < 256; ++i) {
        luma[size_t(i)] = k.luma * (i - k.lumaOffset) + 128;
        rFromV[size_t(i)] = k.rFromV * (i - 128);
        gFromU[size_t(i)] = -k.gFromU * (i - 128);
        gFromV[size_t(i)] = -k.gFromV * (i - 128);
        bFromU[size_t(i)] = k.bFromU * (i - 128);
    }
    const auto channel = [](int value) { return uint(std::clamp(value >> 8, 0, 255)); };
    const int run = 1 << shiftX;
    for (int y = 0; y < frame.height; ++y) {
        const uchar *lumaRow = frame.data[0] + y * frame.linesize[0];
        const uchar *uRow = u + (y >> shiftY) * chromaStride;
        const uchar *vRow = v + (y >> shiftY) * chromaStride;
        auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < frame.width; x += run) {
            const int chroma = (x >> shiftX) * chromaStep;
            const int r = rFromV[vRow[chroma]];
            const int g = gFromU[uRow[chroma]] + gFromV[vRow[chroma]];
            const int b = bFromU[uRow[chroma]];
            for (int i = x; i < std::min(x + run, frame.width); ++i) {
                const int c = luma[lumaRow[i]];
                out[i] = 0xff000000u | channel(c + r) << 16 | channel(c + g) << 8 | channel(c + b);
            }
        }
    }
    return image;
}

QImage::Format rgbFormat(AVPixelFormat format)
{
    switch (format) {
    case AV_PIX_FMT_BGRA: return QImage::Format_ARGB32;
    case AV_PIX_FMT_BGR0: return QImage::Format_RGB32;
    case AV_PIX_FMT_RGBA: return QImage::Format_RGBA8888;
    case AV_PIX_FMT_RGB24: return QImage::Format_RGB888;
    default: return QImage::Format_Invalid;
    }
}

// The frame's image node and the texture it shows, which goes with it.
struct FrameNode : QSGNode
{
    QSGImageNode *image = nullptr; // a child
    std::unique_ptr<QSGTexture> texture;
};

} // namespace

QImage videoFrameImage(const AVFrame &frame)
{
    const auto format = AVPixelFormat(frame.format);
    if (frame.width <= 0 || frame.height <= 0 || !frame.data[0])
        return {};
    if (const QImage::Format direct = rgbFormat(format); direct != QImage::Format_Invalid)
        return QImage(frame.data[0], frame.width, frame.height, frame.linesize[0], direct).copy();
    if (format == AV_PIX_FMT_NV12)
        return fromYuv(frame, frame.data[1], frame.data[1] + 1, frame.linesize[1], 2, 1, 1);
    if (format == AV_PIX_FMT_NV21)
        return fromYuv(frame, frame.data[1] + 1, frame.data[1], frame.linesize[1], 2, 1, 1);
    switch (format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P: return fromYuv(frame, frame.data[1], frame.data[2], frame.linesize[1], 1, 1, 1);
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P: return fromYuv(frame, frame.data[1], frame.data[2], frame.linesize[1], 1, 1, 0);
    case AV_PIX_FMT_YUV444P:
    case AV_PIX_FMT_YUVJ444P: return fromYuv(frame, frame.data[1], frame.data[2], frame.linesize[1], 1, 0, 0);
    default: break;
    }
    return {};
}

std::unique_ptr<VideoPlayer> VideoPlayer::open(const QString &resourcePath)
{
    const QResource resource(QLatin1Char(':') + resourcePath);
    if (!resource.isValid() || resource.size() <= 0)
        return nullptr;
    // Stored uncompressed, the video is read where the program holds it.
    QByteArray data = resource.compressionAlgorithm() == QResource::NoCompression
                          ? QByteArray::fromRawData(reinterpret_cast<const char *>(resource.data()), resource.size())
                          : resource.uncompressedData();
    std::unique_ptr<VideoPlayer> player(new VideoPlayer);
    player->m_source = resourcePath;
    // Frames queued on the decoding thread are looked at here; the
    // decoder's thread ends before this object, so no call outlives it.
    player->m_decoder = VideoDecoder::open(std::move(data), [raw = player.get()] {
        QMetaObject::invokeMethod(raw, &VideoPlayer::showDueFrames, Qt::QueuedConnection);
    });
    if (!player->m_decoder)
        return nullptr;
    player->m_due.setSingleShot(true);
    player->m_due.setTimerType(Qt::PreciseTimer);
    connect(&player->m_due, &QTimer::timeout, player.get(), &VideoPlayer::showDueFrames);
    return player;
}

VideoPlayer::~VideoPlayer()
{
    m_decoder.reset();
}

qint64 VideoPlayer::duration() const
{
    return m_decoder->durationMs();
}

void VideoPlayer::setShown(bool shown)
{
    if (shown == m_shown)
        return;
    m_shown = shown;
    if (shown) {
        // On from the frame it stopped at: the clock starts again with the
        // next one.
        m_clock.invalidate();
        m_decoder->setPaused(false);
        showDueFrames();
    } else {
        m_due.stop();
        m_decoder->setPaused(true);
    }
}

void VideoPlayer::showDueFrames()
{
    if (!m_shown)
        return;
    bool changed = false;
    while (const std::optional<qint64> next = m_decoder->nextTimelineMs()) {
        // The clock starts with the first frame; after a stall of the
        // decoder it starts again rather than racing through the frames.
        if (!m_clock.isValid() || *next < m_clockBase + m_clock.elapsed() - 250) {
            m_clock.start();
            m_clockBase = *next;
        }
        const qint64 wait = *next - (m_clockBase + m_clock.elapsed());
        if (wait > 0) {
            m_due.start(int(wait));
            break;
        }
        // A frame already due behind it replaces it unseen.
        std::optional<VideoDecoder::Frame> frame = m_decoder->take();
        m_frame = std::move(frame->image);
        m_position = frame->positionMs;
        changed = true;
    }
    if (changed) {
        Q_EMIT frameChanged();
        Q_EMIT positionChanged(m_position);
    }
}

VideoPlayerView::VideoPlayerView(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents);
}

VideoPlayerView::~VideoPlayerView()
{
    m_player.reset();
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
    QQuickItem::componentComplete();
    start();
}

void VideoPlayerView::start()
{
    if (m_started || m_videoFileName.isEmpty())
        return;
    m_started = true;

    // The videos are compiled into the program's resources under /videos/
    // (see CMakeLists.txt), stored uncompressed: the decoder reads them in
    // place, and the program needs no folder of files beside it.
    const QString path = QStringLiteral("/videos/%1.mp4").arg(bareName(m_videoFileName));
    if (!QResource(QLatin1Char(':') + path).isValid()) {
        qWarning("Failed to locate video file in bundle. (%s)", qUtf8Printable(bareName(m_videoFileName)));
        return;
    }
    m_player = VideoPlayer::open(path);
    if (!m_player) {
        qWarning("The video %s cannot be played.", qUtf8Printable(path));
        return;
    }
    connect(m_player.get(), &VideoPlayer::frameChanged, this, [this] {
        m_frameChanged = true;
        update();
    });
    followWindow(window());
}

void VideoPlayerView::itemChange(ItemChange change, const ItemChangeData &data)
{
    QQuickItem::itemChange(change, data);
    if (change == ItemSceneChange)
        followWindow(data.window);
}

// Plays while its window is on screen.
void VideoPlayerView::followWindow(QQuickWindow *window)
{
    if (window != m_window) {
        disconnect(m_windowVisibility);
        m_window = window;
        if (window)
            m_windowVisibility = connect(window, &QWindow::visibilityChanged, this, [this] { followWindow(m_window); });
    }
    if (m_player) {
        const QWindow::Visibility visibility = window ? window->visibility() : QWindow::Hidden;
        m_player->setShown(visibility != QWindow::Hidden && visibility != QWindow::Minimized);
    }
}

QSGNode *VideoPlayerView::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    auto *node = static_cast<FrameNode *>(old);
    const QImage frame = m_player ? m_player->frame() : QImage();
    if (frame.isNull() || width() <= 0 || height() <= 0) {
        delete node;
        return nullptr;
    }
    if (!node) {
        node = new FrameNode;
        node->image = window()->createImageNode();
        node->image->setFiltering(QSGTexture::Linear);
        node->appendChildNode(node->image);
        m_frameChanged = true;
    }
    if (m_frameChanged) {
        std::unique_ptr<QSGTexture> texture(window()->createTextureFromImage(frame));
        node->image->setTexture(texture.get());
        node->texture = std::move(texture);
        m_frameChanged = false;
    }
    // Fill the item keeping the aspect ratio: the part of the frame that
    // overflows is cut off evenly on both sides.
    const qreal scale = std::max(width() / frame.width(), height() / frame.height());
    const QSizeF shown(width() / scale, height() / scale);
    QPointF corner((frame.width() - shown.width()) / 2, (frame.height() - shown.height()) / 2);
    // Shown at its own size, the frame starts on a whole pixel: a copy, no
    // scaling at every frame.
    if (qFuzzyCompare(scale, 1.0))
        corner = QPointF(std::floor(corner.x()), std::floor(corner.y()));
    node->image->setSourceRect(QRectF(corner, shown));
    node->image->setRect(QRectF(0, 0, width(), height()));
    return node;
}
