// VideoPlayerView on its FFmpeg decoder, drawn by the software scene graph
// like the program's windows. The test videos (videos/) are compiled
// into this test's resources under /videos/, where the view looks for the
// program's own: red for the first half, blue for the second, with a lime
// square in the middle.

#include <uimodule.h>
#include <videodecoder.h>
#include <videoplayer.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>

extern "C" {
#include <libavutil/frame.h>
}

namespace {

const QColor background(128, 128, 128);

enum class Shade { Red, Blue, Lime, Background, Other };

Shade shade(QColor c)
{
    const int r = c.red(), g = c.green(), b = c.blue();
    if (r > 170 && g < 90 && b < 90)
        return Shade::Red;
    if (b > 170 && r < 90 && g < 90)
        return Shade::Blue;
    if (g > 170 && r < 90 && b < 90)
        return Shade::Lime;
    if (qAbs(r - 128) < 8 && qAbs(g - 128) < 8 && qAbs(b - 128) < 8)
        return Shade::Background;
    return Shade::Other;
}

char *toString(Shade s)
{
    static const char *const names[] = {"red", "blue", "lime", "background", "other"};
    return qstrdup(names[int(s)]);
}

bool isVideo(Shade s)
{
    return s == Shade::Red || s == Shade::Blue || s == Shade::Lime;
}

// Every backward jump of a player's position: a loop when the player had
// reached the end of the video, a restart from elsewhere otherwise.
struct PositionLog
{
    explicit PositionLog(VideoPlayer *player)
    {
        QObject::connect(player, &VideoPlayer::positionChanged, &context, [this, player](qint64 position) {
            if (position < last - 200) {
                if (last >= player->duration() - 400 && position < 300)
                    ++loops;
                else
                    otherJumps << QStringLiteral("%1 -> %2").arg(last).arg(position);
            }
            last = position;
        });
    }
    QObject context;
    qint64 last = 0;
    int loops = 0;
    QStringList otherJumps;
};

// The lime square's first and last pixel along the row or column through
// its centre. Its scaled edges blend into the colour around: the edge is
// where green takes over, halfway through the blend.
std::pair<int, int> limeSpan(const QImage &image, QPoint through, Qt::Orientation orientation)
{
    const bool across = orientation == Qt::Horizontal;
    std::pair<int, int> span{-1, -1};
    for (int i = 0; i < (across ? image.width() : image.height()); ++i) {
        const QColor c = image.pixelColor(across ? QPoint(i, through.y()) : QPoint(through.x(), i));
        if (c.green() > std::max(c.red(), c.blue()))
            span = {span.first < 0 ? i : span.first, i};
    }
    return span;
}

// The process's threads by name, but Qt's pool threads: those come and go
// with the scene graph's image work, the player has none of them.
QStringList threadNames()
{
    QStringList names;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly)) {
            const QString name = QString::fromUtf8(comm.readAll().trimmed());
            if (name != QLatin1String("Thread (pooled)"))
                names << name;
        }
    }
    return names;
}

int threadCount()
{
    return int(threadNames().size());
}

// Exact, where the count of all threads can catch one of Qt's pool threads
// in its first moment, still under the name of the thread that made it.
int decoderThreads()
{
    return int(threadNames().count(QLatin1String(VideoDecoder::kThreadName)));
}

} // namespace

class TestVideoPlayerView : public QObject
{
    Q_OBJECT

    std::unique_ptr<QQmlEngine> m_engine;

    static std::unique_ptr<QQuickWindow> makeWindow(QSize size)
    {
        auto window = std::make_unique<QQuickWindow>();
        window->setColor(background);
        window->resize(size);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("window not exposed");
        return window;
    }

    // A VideoPlayerView made from QML, as a page would, owned by the window.
    VideoPlayerView *addView(QQuickWindow *window, const QString &properties, const QRect &geometry)
    {
        QQmlComponent component(m_engine.get());
        component.setData(QStringLiteral("import Wugg.Ui\nVideoPlayerView { %1 }").arg(properties).toUtf8(), QUrl());
        auto *view = qobject_cast<VideoPlayerView *>(component.create());
        if (!view) {
            qWarning() << component.errors();
            return nullptr;
        }
        view->setParent(window);
        view->setParentItem(window->contentItem());
        view->setPosition(geometry.topLeft());
        view->setSize(geometry.size());
        return view;
    }

    static Shade shadeAt(QQuickWindow *window, QPoint p) { return shade(window->grabWindow().pixelColor(p)); }

private Q_SLOTS:
    void initTestCase()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        Ui::registerQmlModules();
        m_engine = std::make_unique<QQmlEngine>();
    }

    // Decoded frames become images here, with the colours right and without
    // the OpenGL stack that Qt's own conversion loads to do it.
    void convertsFramesWithoutOpenGl_data()
    {
        QTest::addColumn<int>("layout");
        QTest::addColumn<int>("space");
        QTest::addColumn<QList<int>>("yuv");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("I420 red, BT.601") << int(AV_PIX_FMT_YUV420P) << int(AVCOL_SPC_BT470BG)
                                          << QList<int>{81, 90, 240} << QColor(255, 0, 0);
        QTest::newRow("NV12 blue, BT.709") << int(AV_PIX_FMT_NV12) << int(AVCOL_SPC_BT709)
                                           << QList<int>{32, 240, 118} << QColor(0, 0, 255);
        QTest::newRow("NV21 blue, BT.709") << int(AV_PIX_FMT_NV21) << int(AVCOL_SPC_BT709)
                                           << QList<int>{32, 118, 240} << QColor(0, 0, 255);
        QTest::newRow("I444 grey, BT.601") << int(AV_PIX_FMT_YUV444P) << int(AVCOL_SPC_BT470BG)
                                           << QList<int>{126, 128, 128} << QColor(128, 128, 128);
    }
    void convertsFramesWithoutOpenGl()
    {
        QFETCH(int, layout);
        QFETCH(int, space);
        QFETCH(QList<int>, yuv);
        QFETCH(QColor, expected);
        const std::unique_ptr<AVFrame, void (*)(AVFrame *)> frame(av_frame_alloc(), [](AVFrame *f) { av_frame_free(&f); });
        frame->format = layout;
        frame->width = 6;
        frame->height = 4;
        frame->colorspace = AVColorSpace(space);
        frame->color_range = AVCOL_RANGE_MPEG;
        QCOMPARE(av_frame_get_buffer(frame.get(), 0), 0);
        const int chromaRows = layout == AV_PIX_FMT_YUV444P ? 4 : 2;
        std::memset(frame->data[0], yuv[0], size_t(frame->linesize[0] * 4));
        if (layout == AV_PIX_FMT_NV12 || layout == AV_PIX_FMT_NV21) {
            for (int i = 0; i + 1 < frame->linesize[1] * chromaRows; i += 2) {
                frame->data[1][i] = uchar(yuv[1]);
                frame->data[1][i + 1] = uchar(yuv[2]);
            }
        } else {
            std::memset(frame->data[1], yuv[1], size_t(frame->linesize[1] * chromaRows));
            std::memset(frame->data[2], yuv[2], size_t(frame->linesize[2] * chromaRows));
        }

        const QImage image = videoFrameImage(*frame);
        QCOMPARE(image.size(), QSize(6, 4));
        for (const QPoint p : {QPoint(0, 0), QPoint(5, 3), QPoint(3, 1)}) {
            const QColor got = image.pixelColor(p);
            QVERIFY2(std::abs(got.red() - expected.red()) <= 3 && std::abs(got.green() - expected.green()) <= 3
                         && std::abs(got.blue() - expected.blue()) <= 3,
                     qPrintable(got.name()));
        }
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(!mapped.contains("libLLVM") && !mapped.contains("_dri.so") && !mapped.contains("libGLX_mesa"));
    }

    // The video plays to its end and again from its start, only on its own
    // player's end, and never shows an empty frame in between.
    void loopsFromItsOwnEnd()
    {
        auto window = makeWindow(QSize(400, 200));
        VideoPlayerView *wide = addView(window.get(), QStringLiteral("videoFileName: \"test_wide\""), QRect(0, 0, 192, 108));
        VideoPlayerView *tall = addView(window.get(), QStringLiteral("videoFileName: \"test_tall\""), QRect(250, 0, 100, 200));
        QVERIFY(wide && wide->player() && tall && tall->player());
        PositionLog wideLog(wide->player()), tallLog(tall->player());

        // What the wide video shows, sampled often enough to see each half.
        QList<Shade> seen;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] {
            const Shade s = shadeAt(window.get(), QPoint(8, 8));
            if (seen.isEmpty() ? isVideo(s) : s != seen.last())
                seen << s;
        });
        sampler.start(40);
        const auto startsShown = [&] {
            int n = 0;
            for (qsizetype i = 1; i < seen.size(); ++i)
                n += seen[i - 1] == Shade::Blue && seen[i] == Shade::Red;
            return n;
        };

        QTRY_VERIFY_WITH_TIMEOUT(wideLog.loops >= 2 && startsShown() >= 2, 40000);
        QVERIFY2(wideLog.otherJumps.isEmpty(), qPrintable(wideLog.otherJumps.join(u", ")));
        // The wide video ends every 2 s, the tall one every 3 s: the wide
        // one's ends must not take the tall one back to its start.
        QVERIFY2(tallLog.otherJumps.isEmpty(), qPrintable(tallLog.otherJumps.join(u", ")));
        QTRY_VERIFY_WITH_TIMEOUT(tallLog.loops >= 1, 20000);
        QVERIFY2(tallLog.otherJumps.isEmpty(), qPrintable(tallLog.otherJumps.join(u", ")));
        for (Shade s : std::as_const(seen))
            QVERIFY2(s == Shade::Red || s == Shade::Blue, "the video was not shown between its end and its start");
        QVERIFY(wide->player()->isPlaying());

        // Its window hidden, as the tour's close button does, the video
        // stands still; shown again, it goes on from there.
        window->hide();
        const qint64 stoppedAt = wide->player()->position();
        QTest::qWait(600);
        QCOMPARE(wide->player()->position(), stoppedAt);
        QVERIFY(!wide->player()->isPlaying());
        window->show();
        QTRY_VERIFY_WITH_TIMEOUT(wide->player()->position() != stoppedAt, 5000);
        QVERIFY(wide->player()->isPlaying());
    }

    void fillsAndCrops_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("itemSize");
        QTest::addColumn<qreal>("scale"); // item pixels per video pixel
        QTest::addColumn<int>("square");  // the lime square's side in the video

        // 64x36 video: wider item cuts top and bottom, taller item the sides.
        QTest::newRow("wide video, wider item") << QStringLiteral("test_wide") << QSize(500, 230) << 500.0 / 64 << 16;
        QTest::newRow("wide video, tall item") << QStringLiteral("test_wide") << QSize(150, 300) << 300.0 / 36 << 16;
        // 32x64 video in a wide item: top and bottom cut.
        QTest::newRow("tall video, wide item") << QStringLiteral("test_tall") << QSize(300, 200) << 300.0 / 32 << 12;
    }

    // Covers the whole item, no bars, the video's centre at the item's centre
    // and its proportions kept.
    void fillsAndCrops()
    {
        QFETCH(QString, name);
        QFETCH(QSize, itemSize);
        QFETCH(qreal, scale);
        QFETCH(int, square);

        const int margin = 20;
        auto window = makeWindow(itemSize + QSize(2 * margin, 2 * margin));
        const QRect area(QPoint(margin, margin), itemSize);
        VideoPlayerView *view = addView(window.get(), QStringLiteral("videoFileName: \"%1\"").arg(name), area);
        QVERIFY(view && view->player());
        QTRY_COMPARE_WITH_TIMEOUT(shadeAt(window.get(), area.center()), Shade::Lime, 20000);

        const QImage image = window->grabWindow();
        // Every pixel along the item's edges is video, none is background.
        const QRect inner = area.adjusted(1, 1, -1, -1);
        QList<QPoint> edges;
        for (int x = inner.left(); x <= inner.right(); ++x)
            edges << QPoint(x, inner.top()) << QPoint(x, inner.bottom());
        for (int y = inner.top(); y <= inner.bottom(); ++y)
            edges << QPoint(inner.left(), y) << QPoint(inner.right(), y);
        for (QPoint p : std::as_const(edges))
            QVERIFY2(isVideo(shade(image.pixelColor(p))), qPrintable(QStringLiteral("no video at %1,%2").arg(p.x()).arg(p.y())));
        QCOMPARE(shade(image.pixelColor(area.left() - 2, area.center().y())), Shade::Background);

        // The lime square: centred, square (not stretched), at the scale
        // that fills the item.
        const qreal expected = square * scale;
        const auto [left, right] = limeSpan(image, area.center(), Qt::Horizontal);
        const auto [top, bottom] = limeSpan(image, area.center(), Qt::Vertical);
        const QString found = QStringLiteral("lime %1..%2 x %3..%4, expected side %5 centred at %6,%7")
                                  .arg(left).arg(right).arg(top).arg(bottom).arg(expected)
                                  .arg(area.center().x()).arg(area.center().y());
        QVERIFY2(qAbs(right - left + 1 - expected) <= 4 && qAbs(bottom - top + 1 - expected) <= 4, qPrintable(found));
        QVERIFY2(qAbs((left + right) / 2.0 - (area.left() + area.width() / 2.0)) <= 3
                     && qAbs((top + bottom) / 2.0 - (area.top() + area.height() / 2.0)) <= 3,
                 qPrintable(found));
    }

    // "/name" and "name" are the same video; a later name changes nothing.
    void namesAndSetOnce()
    {
        auto window = makeWindow(QSize(400, 120));
        VideoPlayerView *slashed = addView(window.get(), QStringLiteral("videoFileName: \"/test_wide\""), QRect(0, 0, 160, 90));
        VideoPlayerView *plain = addView(window.get(), QStringLiteral("videoFileName: \"test_wide\""), QRect(200, 0, 160, 90));
        QVERIFY(slashed && slashed->player() && plain && plain->player());
        QCOMPARE(slashed->player()->source(), plain->player()->source());
        QTRY_COMPARE_WITH_TIMEOUT(shadeAt(window.get(), QPoint(80, 45)), Shade::Lime, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(shadeAt(window.get(), QPoint(280, 45)), Shade::Lime, 20000);

        // Renamed once playing, as a rebuilt page would: the same player
        // keeps playing the same video from where it was.
        VideoPlayer *player = slashed->player();
        const QString source = player->source();
        PositionLog log(player);
        QTRY_VERIFY_WITH_TIMEOUT(player->position() > 300, 20000);
        slashed->setVideoFileName(QStringLiteral("test_tall"));
        QCOMPARE(slashed->videoFileName(), QStringLiteral("/test_wide"));
        QCOMPARE(slashed->player(), player);
        QCOMPARE(player->source(), source);
        // Through one end of the video, to see any restart on the way.
        QTRY_VERIFY_WITH_TIMEOUT(log.loops >= 1, 20000);
        QVERIFY2(log.otherJumps.isEmpty(), qPrintable(log.otherJumps.join(u", ")));
        QCOMPARE(player->source(), source);
    }

    // A video that is not there: a warning, no player, an empty area of the
    // given size, and the rest of the window goes on.
    void missingVideo()
    {
        auto window = makeWindow(QSize(400, 120));
        QTest::ignoreMessage(QtWarningMsg, "Failed to locate video file in bundle. (demo_missing)");
        VideoPlayerView *missing = addView(window.get(), QStringLiteral("videoFileName: \"/demo_missing\""), QRect(0, 0, 200, 120));
        VideoPlayerView *present = addView(window.get(), QStringLiteral("videoFileName: \"test_wide\""), QRect(220, 0, 160, 90));
        QVERIFY(missing && present);
        QVERIFY(!missing->player());
        QCOMPARE(missing->size(), QSizeF(200, 120));

        QTRY_COMPARE_WITH_TIMEOUT(shadeAt(window.get(), QPoint(300, 45)), Shade::Lime, 20000);
        const QImage image = window->grabWindow();
        for (int y = 0; y < 120; y += 7)
            for (int x = 0; x < 200; x += 7)
                QCOMPARE(shade(image.pixelColor(x, y)), Shade::Background);
        // A name that comes later does not bring a player either.
        missing->setVideoFileName(QStringLiteral("test_wide"));
        QVERIFY(!missing->player());
    }

    // Windows with a playing video, dropped and made again: each leaves no
    // player and no pipeline thread behind.
    void tearDown()
    {
        int baseline = 0;
        for (int round = 0; round < 4; ++round) {
            auto window = makeWindow(QSize(200, 120));
            VideoPlayerView *view = addView(window.get(), QStringLiteral("videoFileName: \"test_wide\""), QRect(0, 0, 160, 90));
            QVERIFY(view && view->player());
            QPointer<VideoPlayer> player = view->player();
            QTRY_COMPARE_WITH_TIMEOUT(shadeAt(window.get(), QPoint(80, 45)), Shade::Lime, 20000);
            // A playing video decodes on one thread, not FFmpeg's one per
            // core; pool threads come and go meanwhile.
            QCOMPARE(decoderThreads(), 1);
            if (round > 0)
                QTRY_COMPARE_WITH_TIMEOUT(threadCount(), baseline + 1, 5000);
            window.reset();
            QVERIFY(!player);
            // Later rounds must not add to what the first left.
            if (round == 0) {
                QTest::qWait(500);
                baseline = threadCount();
            } else {
                QTRY_VERIFY2_WITH_TIMEOUT(threadCount() <= baseline,
                                          qPrintable(QStringLiteral("%1 threads, %2 after the first round")
                                                         .arg(threadCount()).arg(baseline)),
                                          10000);
            }
        }
    }

    // The tour's window dropped with its video playing, round after round
    // as "Start using" does, at every moment of the start: the process
    // lives on, and each view's decoding has ended by the time it is gone.
    void droppedWhilePlaying()
    {
        const int before = threadCount();
        QStringList leftovers;
        for (int round = 0; round < 40; ++round) {
            auto window = makeWindow(QSize(200, 120));
            VideoPlayerView *view = addView(window.get(), QStringLiteral("videoFileName: \"test_wide\""), QRect(0, 0, 160, 90));
            QVERIFY(view && view->player());
            if (round % 5 == 4)
                QTRY_COMPARE_WITH_TIMEOUT(shadeAt(window.get(), QPoint(80, 45)), Shade::Lime, 20000);
            else
                QTest::qWait(round % 5 * 30);
            window.reset();
            // A thread just joined can still show in /proc for a moment.
            if (!QTest::qWaitFor([] { return decoderThreads() == 0; }, 2000))
                leftovers << QString::number(round);
        }
        QVERIFY2(leftovers.isEmpty(), qPrintable(QStringLiteral("decoding went on after rounds ") + leftovers.join(u", ")));
        // Nor is anything else of the player left.
        QTRY_VERIFY2_WITH_TIMEOUT(threadCount() <= before, qPrintable(threadNames().join(u", ")), 10000);
    }
};

QTEST_MAIN(TestVideoPlayerView)
#include "tst_videoplayerview.moc"
