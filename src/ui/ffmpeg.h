#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <memory>

// FFmpeg's libraries, loaded while a video plays. Linked, they would come
// with every window (and with them some hundred libraries, GLib's D-Bus
// stack among them) and stay; the tour is the only one that needs them.
#define WUGG_FFMPEG_FUNCTIONS(X)                                                                               \
    X(util, av_malloc)                                                                                         \
    X(util, av_free)                                                                                           \
    X(util, av_freep)                                                                                          \
    X(util, av_frame_alloc)                                                                                    \
    X(util, av_frame_free)                                                                                     \
    X(util, av_frame_unref)                                                                                    \
    X(util, av_rescale)                                                                                        \
    X(util, av_rescale_q)                                                                                      \
    X(codec, avcodec_alloc_context3)                                                                           \
    X(codec, avcodec_parameters_to_context)                                                                    \
    X(codec, avcodec_open2)                                                                                    \
    X(codec, avcodec_free_context)                                                                             \
    X(codec, avcodec_send_packet)                                                                              \
    X(codec, avcodec_receive_frame)                                                                            \
    X(codec, avcodec_flush_buffers)                                                                            \
    X(codec, av_packet_alloc)                                                                                  \
    X(codec, av_packet_free)                                                                                   \
    X(codec, av_packet_unref)                                                                                  \
    X(format, avio_alloc_context)                                                                              \
    X(format, avio_context_free)                                                                               \
    X(format, avformat_alloc_context)                                                                          \
    X(format, avformat_open_input)                                                                             \
    X(format, avformat_close_input)                                                                            \
    X(format, av_find_input_format)                                                                            \
    X(format, av_find_best_stream)                                                                             \
    X(format, av_read_frame)                                                                                   \
    X(format, av_seek_frame)

struct FFmpeg
{
#define WUGG_FFMPEG_DECLARE(library, name) decltype(&::name) name = nullptr;
    WUGG_FFMPEG_FUNCTIONS(WUGG_FFMPEG_DECLARE)
#undef WUGG_FFMPEG_DECLARE
};

// The libraries, loaded unless another holder has them already, and closed
// when the last holder lets go. Null (and said) when one of them or of their
// functions is missing. On the main thread.
std::shared_ptr<const FFmpeg> ffmpeg();
