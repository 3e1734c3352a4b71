#include "ffmpeg.h"

#include <QtGlobal>

#include <dlfcn.h>

#include <array>

namespace {

// The major versions the headers describe: another one may differ in its
// structures.
#define WUGG_SONAME(library, major) "lib" library ".so." AV_STRINGIFY(major)

struct Loaded : FFmpeg
{
    std::array<void *, 3> handles{};

    ~Loaded()
    {
        // The libraries that need one another go last.
        for (void *handle : handles)
            if (handle)
                dlclose(handle);
    }
};

} // namespace

std::shared_ptr<const FFmpeg> ffmpeg()
{
    static std::weak_ptr<const FFmpeg> held;
    if (std::shared_ptr<const FFmpeg> functions = held.lock())
        return functions;

    auto loaded = std::make_shared<Loaded>();
    void *const format = dlopen(WUGG_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    void *const codec = dlopen(WUGG_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    void *const util = dlopen(WUGG_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    loaded->handles = {format, codec, util};
    if (!format || !codec || !util) {
        qWarning("Videos cannot play: %s", dlerror());
        return nullptr;
    }
#define WUGG_FFMPEG_RESOLVE(library, name)                                                                     \
    loaded->name = reinterpret_cast<decltype(loaded->name)>(dlsym(library, #name));                           \
    if (!loaded->name) {                                                                                       \
        qWarning("Videos cannot play: FFmpeg has no %s", #name);                                               \
        return nullptr;                                                                                        \
    }
    WUGG_FFMPEG_FUNCTIONS(WUGG_FFMPEG_RESOLVE)
#undef WUGG_FFMPEG_RESOLVE
    held = loaded;
    return loaded;
}
