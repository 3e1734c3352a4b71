#pragma once

#include <QByteArray>
#include <QImage>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

struct AVCodecContext;
struct FFmpeg;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;

// Decodes the video stream of an MP4 held in memory, endlessly, on a thread
// of its own into a short queue of images. At the end of the file it goes
// on from the start, the times running on, so a loop is just more frames.
class VideoDecoder
{
public:
    // The decoding thread's name.
    static constexpr const char *kThreadName = "wugg-video";

    struct Frame
    {
        QImage image;
        qint64 positionMs = 0; // within the file
        qint64 timelineMs = 0; // since the first frame, across loops
    };

    // Null when the data holds no video FFmpeg can decode. frameQueued is
    // called on the decoding thread whenever the queue stops being empty.
    static std::unique_ptr<VideoDecoder> open(QByteArray data, std::function<void()> frameQueued);
    // Stops decoding and joins the thread. On the main thread.
    ~VideoDecoder();

    qint64 durationMs() const { return m_durationMs; }

    // The oldest frame waiting; taking it makes room for the next.
    std::optional<qint64> nextTimelineMs();
    std::optional<Frame> take();

    // While paused (as it starts) the thread only waits.
    void setPaused(bool paused);

    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

private:
    VideoDecoder() = default;
    void run();
    AVFrame *decodeNext();
    bool restart();

    static constexpr std::size_t kQueueLength = 4;
    static constexpr int kLibrariesKeptMs = 2000;

    std::shared_ptr<const FFmpeg> m_av; // held until the last call into it
    QByteArray m_data;
    qint64 m_readAt = 0;
    std::pair<const QByteArray *, qint64 *> m_ioState{nullptr, nullptr};
    AVIOContext *m_io = nullptr;
    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVPacket *m_packet = nullptr;
    AVFrame *m_frame = nullptr;
    int m_stream = -1;
    qint64 m_durationMs = 0;
    qint64 m_frameMs = 40;
    qint64 m_startPts = 0;
    // Added to file positions: the lengths of the loops before this one.
    qint64 m_loopOffsetMs = 0;
    qint64 m_lastPositionMs = 0;

    std::function<void()> m_frameQueued;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Frame> m_queue;
    bool m_paused = true; // until the player is shown
    bool m_stopping = false;
    std::thread m_thread;
};
