#include "videodecoder.h"

#include "ffmpeg.h"
#include "videoplayer.h"

#include <QTimer>
#include <QtGlobal>

#include <malloc.h>
#include <pthread.h>

#include <algorithm>
#include <cstring>

namespace {

// FFmpeg reads the file from memory: no temporary copy on disk.
int readData(void *opaque, uint8_t *buffer, int size)
{
    auto *self = static_cast<std::pair<const QByteArray *, qint64 *> *>(opaque);
    const QByteArray &data = *self->first;
    qint64 &at = *self->second;
    const qint64 left = data.size() - at;
    if (left <= 0)
        return AVERROR_EOF;
    const int n = int(std::min<qint64>(size, left));
    std::memcpy(buffer, data.constData() + at, size_t(n));
    at += n;
    return n;
}

int64_t seekData(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<std::pair<const QByteArray *, qint64 *> *>(opaque);
    const qint64 size = self->first->size();
    qint64 &at = *self->second;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return size;
    case SEEK_SET: break;
    case SEEK_CUR: offset += at; break;
    case SEEK_END: offset += size; break;
    default: return AVERROR(EINVAL);
    }
    if (offset < 0 || offset > size)
        return AVERROR(EINVAL);
    at = offset;
    return at;
}

} // namespace

std::unique_ptr<VideoDecoder> VideoDecoder::open(QByteArray data, std::function<void()> frameQueued)
{
    std::shared_ptr<const FFmpeg> av = ffmpeg();
    if (!av)
        return nullptr;
    std::unique_ptr<VideoDecoder> d(new VideoDecoder);
    d->m_av = av;
    d->m_data = std::move(data);
    d->m_frameQueued = std::move(frameQueued);
    d->m_ioState = {&d->m_data, &d->m_readAt};

    constexpr int kBufferSize = 32 * 1024;
    auto *buffer = static_cast<unsigned char *>(av->av_malloc(kBufferSize));
    d->m_io = buffer ? av->avio_alloc_context(buffer, kBufferSize, 0, &d->m_ioState, readData, nullptr, seekData) : nullptr;
    if (!d->m_io) {
        av->av_free(buffer);
        return nullptr;
    }
    d->m_format = av->avformat_alloc_context();
    if (!d->m_format)
        return nullptr;
    d->m_format->pb = d->m_io;
    d->m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
    // MP4 said outright: probing would run every demuxer's probe over the
    // data, and keep their code in memory.
    if (av->avformat_open_input(&d->m_format, nullptr, av->av_find_input_format("mp4"), nullptr) < 0)
        return nullptr; // avformat_open_input freed the context

    const AVCodec *codec = nullptr;
    d->m_stream = av->av_find_best_stream(d->m_format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (d->m_stream < 0 || !codec)
        return nullptr;
    const AVStream *stream = d->m_format->streams[d->m_stream];
    d->m_codec = av->avcodec_alloc_context3(codec);
    if (!d->m_codec || av->avcodec_parameters_to_context(d->m_codec, stream->codecpar) < 0)
        return nullptr;
    // Decoding stays on this one thread: no frame threads of FFmpeg.
    d->m_codec->thread_count = 1;
    if (av->avcodec_open2(d->m_codec, codec, nullptr) < 0)
        return nullptr;
    d->m_packet = av->av_packet_alloc();
    d->m_frame = av->av_frame_alloc();
    if (!d->m_packet || !d->m_frame)
        return nullptr;

    d->m_startPts = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0)
        d->m_frameMs = std::max<qint64>(1, av->av_rescale(1000, stream->avg_frame_rate.den, stream->avg_frame_rate.num));
    if (stream->duration != AV_NOPTS_VALUE)
        d->m_durationMs = av->av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000});
    else if (d->m_format->duration != AV_NOPTS_VALUE)
        d->m_durationMs = d->m_format->duration / (AV_TIME_BASE / 1000);

    d->m_thread = std::thread([raw = d.get()] { raw->run(); });
    return d;
}

VideoDecoder::~VideoDecoder()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    m_av->av_frame_free(&m_frame);
    m_av->av_packet_free(&m_packet);
    m_av->avcodec_free_context(&m_codec);
    m_av->avformat_close_input(&m_format);
    if (m_io) {
        m_av->av_freep(&m_io->buffer);
        m_av->avio_context_free(&m_io);
    }
    // The libraries stay a moment for the next video (the tour's other page,
    // the tour opened again) rather than being loaded again at once. Then
    // the heap goes back as well: the thread's frames were freed into a heap
    // of its own, which glibc keeps for a next thread otherwise.
    QTimer::singleShot(kLibrariesKeptMs, [libraries = std::move(m_av)]() mutable {
        libraries.reset();
        malloc_trim(0);
    });
}

std::optional<qint64> VideoDecoder::nextTimelineMs()
{
    std::lock_guard lock(m_mutex);
    if (m_queue.empty())
        return std::nullopt;
    return m_queue.front().timelineMs;
}

std::optional<VideoDecoder::Frame> VideoDecoder::take()
{
    std::optional<Frame> frame;
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.empty())
            return std::nullopt;
        frame = std::move(m_queue.front());
        m_queue.pop_front();
    }
    m_wake.notify_all();
    return frame;
}

void VideoDecoder::setPaused(bool paused)
{
    {
        std::lock_guard lock(m_mutex);
        m_paused = paused;
    }
    m_wake.notify_all();
}

void VideoDecoder::run()
{
    // Named, so that a look at the process tells the decoder apart.
    pthread_setname_np(pthread_self(), kThreadName);
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || (!m_paused && m_queue.size() < kQueueLength); });
            if (m_stopping)
                return;
        }
        AVFrame *decoded = decodeNext();
        if (!decoded) {
            qWarning("The video cannot be decoded further.");
            return;
        }
        const int64_t pts = decoded->best_effort_timestamp == AV_NOPTS_VALUE ? m_startPts : decoded->best_effort_timestamp;
        Frame frame;
        frame.positionMs = std::max<qint64>(
            0, m_av->av_rescale_q(pts - m_startPts, m_format->streams[m_stream]->time_base, AVRational{1, 1000}));
        frame.timelineMs = m_loopOffsetMs + frame.positionMs;
        m_lastPositionMs = frame.positionMs;
        frame.image = videoFrameImage(*decoded);
        m_av->av_frame_unref(decoded);
        if (frame.image.isNull())
            continue;
        bool wasEmpty = false;
        {
            std::lock_guard lock(m_mutex);
            wasEmpty = m_queue.empty();
            m_queue.push_back(std::move(frame));
        }
        if (wasEmpty)
            m_frameQueued();
    }
}

// The next decoded frame, going on from the start after the last; null on
// a fault.
AVFrame *VideoDecoder::decodeNext()
{
    for (int restarts = 0; restarts < 2;) {
        const int received = m_av->avcodec_receive_frame(m_codec, m_frame);
        if (received == 0)
            return m_frame;
        if (received == AVERROR_EOF) {
            if (!restart())
                return nullptr;
            ++restarts; // twice in a row without a frame: nothing to show
            continue;
        }
        if (received != AVERROR(EAGAIN))
            return nullptr;
        const int read = m_av->av_read_frame(m_format, m_packet);
        if (read == AVERROR_EOF) {
            // The frames the decoder still holds come out first.
            m_av->avcodec_send_packet(m_codec, nullptr);
            continue;
        }
        if (read < 0)
            return nullptr;
        if (m_packet->stream_index == m_stream) {
            const int sent = m_av->avcodec_send_packet(m_codec, m_packet);
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                m_av->av_packet_unref(m_packet);
                return nullptr;
            }
            restarts = 0;
        }
        m_av->av_packet_unref(m_packet);
    }
    return nullptr;
}

// Back to the first frame; the next loop starts where this one's last frame
// ends, or at the file's own end if that comes later.
bool VideoDecoder::restart()
{
    m_loopOffsetMs += std::max(m_lastPositionMs + m_frameMs, m_durationMs);
    m_lastPositionMs = 0;
    m_av->avcodec_flush_buffers(m_codec);
    return m_av->av_seek_frame(m_format, m_stream, m_startPts, AVSEEK_FLAG_BACKWARD) >= 0;
}
