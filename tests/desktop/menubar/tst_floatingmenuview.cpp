// The floating prompt menu as the program shows it: the real router makes its
// window with the real QML content, and the test types and points at that
// window. Only the prompt stream is a recorder, so what was sent, and when,
// shows.

#include <approuter.h>
#include <look.h>
#include <promptexecutor.h>
#include <resolver.h>
#include <systemsound.h>
#include <windowcontent.h>

#include "../viewfixture.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using viewfixture::findItem;
using viewfixture::sceneRect;

namespace {

QString describe(const Prompt &prompt)
{
    switch (prompt.kind()) {
    case Prompt::Kind::typoFix:
        return QStringLiteral("typoFix");
    case Prompt::Kind::translate:
        return QStringLiteral("translate(%1)").arg(prompt.language());
    case Prompt::Kind::rephrase:
        return prompt.customPrompt() ? QStringLiteral("rephrase(\"%1\")").arg(*prompt.customPrompt())
                                     : QStringLiteral("rephrase(absent)");
    }
    return {};
}

struct RecordingExecution : PromptExecution
{
    explicit RecordingExecution(QStringList *sink) : log(sink) {}
    streams::AnyPublisher<Prompt> promptPublisher() override { return subject.eraseToAnyPublisher(); }
    void execute(const Prompt &prompt) override { *log << QStringLiteral("execute ") + describe(prompt); }
    QStringList *log;
    streams::PassthroughSubject<Prompt> subject;
};

const QStringList kLabels{QStringLiteral("Fix typo & poor grammar"), QStringLiteral("Rephrase & improve writing"),
                          QStringLiteral("Translate to: ...")};
const QString kMenuHidden = QStringLiteral("menu hidden");

QPoint centreOf(const QQuickItem *item)
{
    return sceneRect(item).center().toPoint();
}

} // namespace

class TestFloatingMenuView : public QObject
{
    Q_OBJECT

    QStringList m_log;
    std::shared_ptr<RecordingExecution> m_executor;
    std::shared_ptr<AppRouter> m_router;
    QQuickWindow *m_window = nullptr;

    QQuickItem *item(const QString &name) const
    {
        return m_window ? findItem(m_window->contentItem(), name) : nullptr;
    }
    QQuickItem *row(int index) const { return item(QStringLiteral("promptRow%1").arg(index)); }

    // The labels of the rows the list shows, top to bottom.
    QStringList labels() const
    {
        QStringList shown;
        const int count = item(QStringLiteral("promptList"))->property("count").toInt();
        for (int i = 0; i < count; ++i) {
            QQuickItem *r = row(i);
            shown << (r && r->isVisible() ? r->property("text").toString() : QStringLiteral("<no row %1>").arg(i));
        }
        if (row(count))
            shown << QStringLiteral("<stray row %1>").arg(count);
        return shown;
    }

    // The rows drawn highlighted, and any row whose highlight is some other colour.
    QList<int> highlightedRows() const
    {
        QList<int> highlighted;
        for (int i = 0; QQuickItem *r = row(i); ++i) {
            const QColor colour = findItem(r, QStringLiteral("highlight"))->property("color").value<QColor>();
            if (colour.alpha() == 0)
                continue;
            const bool whiteAt8 = colour.red() == 255 && colour.green() == 255 && colour.blue() == 255
                && qAbs(colour.alphaF() - 0.08) < 0.005;
            highlighted << (whiteAt8 ? i : -100 - i);
        }
        return highlighted;
    }

    QString text(const QString &field) const { return item(field)->property("text").toString(); }

    // The placeholder a field shows; empty while it shows none.
    QString shownPlaceholder(const QString &field) const
    {
        QQuickItem *placeholder = findItem(item(field), QStringLiteral("placeholder"));
        return placeholder && placeholder->isVisible() ? placeholder->property("text").toString() : QString();
    }

    bool openMenu()
    {
        if (m_router->floatingMenuWindow())
            return false;
        m_router->toggleFloatingMenuWindow();
        m_window = m_router->floatingMenuWindow();
        if (!m_window || !QTest::qWaitForWindowActive(m_window))
            return false;
        connect(m_window, &QWindow::visibleChanged, m_window, [this](bool visible) {
            if (!visible)
                m_log << kMenuHidden;
        });
        return item(QStringLiteral("searchField")) != nullptr;
    }

    void key(Qt::Key k) { QTest::keyClick(m_window, k); }
    // QTest has no keyClicks for a window: one key event per character.
    void type(const QString &text)
    {
        for (const QChar c : text)
            QTest::keyClick(m_window, c.toLatin1());
    }

    void hover(QQuickItem *target) { QTest::mouseMove(m_window, centreOf(target)); }

    // Into the second step of the translation with the keys.
    bool chooseTranslateWithKeys()
    {
        for (int i = 0; i < 3; ++i)
            key(Qt::Key_Down);
        key(Qt::Key_Return);
        return QTest::qWaitFor([this] { return item(QStringLiteral("customPromptField")) != nullptr; }, 5000);
    }

    bool menuClosed() const { return !m_router->floatingMenuWindow(); }

    static void saveGrab(QQuickWindow *window, const QString &name)
    {
        const QImage image = window->grabWindow();
        QVERIFY(!image.isNull());
        QVERIFY(image.save(QDir::current().filePath(name)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        WindowContent::chooseSceneGraph();
        // The real pointer out of the way: the menu opens in the middle of
        // the screen, where a row under it would be hovered.
        QCursor::setPos(0, 0);
        QTRY_COMPARE(QCursor::pos(), QPoint(0, 0));

        m_executor = std::make_shared<RecordingExecution>(&m_log);
        Resolver::main().reset();
        Resolver::main().setRegistrationRoutine([this](Resolver &r) {
            r.register_<ToastDispatcher>([] { return std::make_shared<ToastDispatcher>(); });
            r.register_<AppRouter>([content = std::make_shared<WindowContent>()] {
                 return std::make_shared<AppRouter>(
                     Resolver::main(), [content](AppRouter::Window which) { return content->make(which); });
             })
                .implements<AppRouting>()
                .scope(Resolver::Scope::Shared);
            r.register_<RecordingExecution>([this] { return m_executor; }).implements<PromptExecution>();
        });
        m_router = Resolver::main().resolve<AppRouter>();
    }

    void init()
    {
        m_log.clear();
        QVERIFY(openMenu());
    }

    void cleanup()
    {
        if (m_router->floatingMenuWindow())
            m_router->toggleFloatingMenuWindow();
        m_window = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void cleanupTestCase()
    {
        m_router.reset();
        Resolver::main().reset();
    }

    void openingShowsSearchAndEveryPrompt()
    {
        QTRY_VERIFY(item(QStringLiteral("searchField"))->hasActiveFocus());
        QCOMPARE(shownPlaceholder(QStringLiteral("searchField")), QStringLiteral("Select a prompt..."));
        QCOMPARE(labels(), kLabels);
        QCOMPARE(highlightedRows(), QList<int>());
        QVERIFY(!item(QStringLiteral("customPromptField")));
        // The mascot comes from the program's resources.
        QCOMPARE(item(QStringLiteral("mascot"))->property("status").toInt(), 1 /* Image.Ready */);
        // An edge all round, in the divider colour.
        const QImage shot = m_window->grabWindow();
        QCOMPARE(shot.pixelColor(0, shot.height() / 2), Look::dividerBackground());
        QCOMPARE(shot.pixelColor(shot.width() - 1, shot.height() - 1), Look::dividerBackground());

        type(QStringLiteral("trans"));
        QCOMPARE(text(QStringLiteral("searchField")), QStringLiteral("trans"));
        QCOMPARE(shownPlaceholder(QStringLiteral("searchField")), QString());
        QTRY_COMPARE(labels(), QStringList{kLabels[2]});
        QVERIFY(m_log.isEmpty());
    }

    void hoverHighlightsUntilAKeyMovesIt()
    {
        QTRY_VERIFY(item(QStringLiteral("searchField"))->hasActiveFocus());
        hover(row(1));
        QCOMPARE(highlightedRows(), QList<int>{1});
        saveGrab(m_window, QStringLiteral("floating-menu-step1.png"));

        // Off the list, onto the footer beside the mascot: the row stays lit.
        const QRectF mascot = sceneRect(item(QStringLiteral("mascot")));
        QTest::mouseMove(m_window, QPoint(qRound(mascot.right()) + 10, qRound(mascot.center().y())));
        QCOMPARE(highlightedRows(), QList<int>{1});

        key(Qt::Key_Down);
        QCOMPARE(highlightedRows(), QList<int>{2});
        key(Qt::Key_Down); // the last row keeps it
        QCOMPARE(highlightedRows(), QList<int>{2});
        key(Qt::Key_Up);
        QCOMPARE(highlightedRows(), QList<int>{1});
        // Typing searches again, which clears the highlight.
        type(QStringLiteral("a"));
        QCOMPARE(highlightedRows(), QList<int>());
        key(Qt::Key_Backspace);
        QCOMPARE(text(QStringLiteral("searchField")), QString());

        // Also with the pointer resting on the list: the rows of the new
        // list stay unlit until the pointer moves.
        hover(row(0));
        QCOMPARE(highlightedRows(), QList<int>{0});
        QSignalSpy frames(m_window, &QQuickWindow::frameSwapped);
        type(QStringLiteral("e"));
        QCOMPARE(labels(), kLabels.mid(1));
        // Hover is delivered again at the start of a frame.
        QTRY_VERIFY(frames.count() >= 1);
        QCOMPARE(highlightedRows(), QList<int>());
        QVERIFY(m_log.isEmpty());
    }

    void translationAsksForTheLanguageAndSendsAfterClosing_data()
    {
        QTest::addColumn<bool>("byPointer");
        QTest::newRow("keys") << false;
        QTest::newRow("click") << true;
    }
    void translationAsksForTheLanguageAndSendsAfterClosing()
    {
        QFETCH(bool, byPointer);
        QQuickItem *search = item(QStringLiteral("searchField"));
        QTRY_VERIFY(search->hasActiveFocus());
        const qreal wideSearch = search->width();
        if (byPointer) {
            hover(row(2));
            QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf(row(2)));
            QTRY_VERIFY(item(QStringLiteral("customPromptField")));
        } else {
            QVERIFY(chooseTranslateWithKeys());
        }

        QQuickItem *custom = item(QStringLiteral("customPromptField"));
        QTRY_VERIFY(custom->hasActiveFocus());
        QCOMPARE(shownPlaceholder(QStringLiteral("customPromptField")), QStringLiteral("Language..."));
        QCOMPARE(text(QStringLiteral("searchField")), kLabels[2]);
        QTRY_COMPARE(labels(), QStringList{kLabels[2]});
        QCOMPARE(highlightedRows(), QList<int>());

        // The search narrows to make room; the field's box stands to its right, on the same line.
        QTRY_VERIFY(search->width() <= 110);
        QVERIFY(search->width() > 0 && search->width() < wideSearch);
        const QRectF searchRect = sceneRect(search);
        const QRectF box = sceneRect(item(QStringLiteral("customPromptBox")));
        QVERIFY(item(QStringLiteral("customPromptBox"))->isVisible());
        QVERIFY2(box.left() >= searchRect.right() && box.right() <= m_window->width(),
                 qPrintable(QStringLiteral("search %1..%2, box %3..%4")
                                .arg(searchRect.left())
                                .arg(searchRect.right())
                                .arg(box.left())
                                .arg(box.right())));
        QVERIFY(qAbs(box.center().y() - searchRect.center().y()) <= 2);
        QVERIFY(box.contains(sceneRect(custom)));
        if (!byPointer)
            saveGrab(m_window, QStringLiteral("floating-menu-step2.png"));

        // No language yet: nothing happens.
        key(Qt::Key_Return);
        QCoreApplication::processEvents();
        QVERIFY(!menuClosed());
        QVERIFY(m_log.isEmpty());
        QVERIFY(custom->hasActiveFocus());

        type(QStringLiteral("German"));
        QCOMPARE(text(QStringLiteral("customPromptField")), QStringLiteral("German"));
        QCOMPARE(text(QStringLiteral("searchField")), kLabels[2]);
        key(Qt::Key_Return);
        QVERIFY(menuClosed());
        QCOMPARE(m_log, QStringList({kMenuHidden, QStringLiteral("execute translate(German)")}));
    }

    void escapeLeavesTheSecondStepThenCloses()
    {
        QQuickItem *search = item(QStringLiteral("searchField"));
        QTRY_VERIFY(search->hasActiveFocus());
        const qreal wideSearch = search->width();
        QVERIFY(chooseTranslateWithKeys());
        QTRY_VERIFY(item(QStringLiteral("customPromptField"))->hasActiveFocus());
        type(QStringLiteral("Ger"));
        QTRY_VERIFY(search->width() <= 110);

        key(Qt::Key_Escape);
        QVERIFY(!menuClosed());
        QTRY_VERIFY(!item(QStringLiteral("customPromptField")));
        QVERIFY(!item(QStringLiteral("customPromptBox"))->isVisible());
        QTRY_COMPARE(search->width(), wideSearch);
        QCOMPARE(text(QStringLiteral("searchField")), QString());
        QCOMPARE(shownPlaceholder(QStringLiteral("searchField")), QStringLiteral("Select a prompt..."));
        QTRY_COMPARE(labels(), kLabels);
        QCOMPARE(highlightedRows(), QList<int>());
        // Typing searches again.
        QVERIFY(search->hasActiveFocus());
        type(QStringLiteral("fix"));
        QTRY_COMPARE(labels(), QStringList{kLabels[0]});

        key(Qt::Key_Escape);
        QVERIFY(menuClosed());
        QCOMPARE(m_log, QStringList{kMenuHidden});
    }

    void mascotOnlyPlaysItsSound()
    {
        QQuickItem *search = item(QStringLiteral("searchField"));
        QTRY_VERIFY(search->hasActiveFocus());
        type(QStringLiteral("a"));
        hover(row(1));
        QCOMPARE(highlightedRows(), QList<int>{1});

        QSignalSpy played(&SystemSound::zorble(), &SystemSound::played);
        QTest::mouseClick(m_window, Qt::LeftButton, {}, centreOf(item(QStringLiteral("mascot"))));
        QCOMPARE(played.count(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(m_router->floatingMenuWindow(), m_window);
        QVERIFY(m_window->isVisible());
        QVERIFY(search->hasActiveFocus());
        QCOMPARE(text(QStringLiteral("searchField")), QStringLiteral("a"));
        QCOMPARE(labels(), kLabels);
        QCOMPARE(highlightedRows(), QList<int>{1});
        QVERIFY(!item(QStringLiteral("customPromptField")));
        QVERIFY(m_log.isEmpty());
    }

    void everyOpeningStartsFresh()
    {
        QTRY_VERIFY(item(QStringLiteral("searchField"))->hasActiveFocus());
        // Left in the second step, with text in both fields and a row lit,
        // closed by the shortcut's toggle.
        type(QStringLiteral("trans"));
        QTRY_COMPARE(labels(), QStringList{kLabels[2]});
        key(Qt::Key_Down);
        key(Qt::Key_Return);
        QTRY_VERIFY(item(QStringLiteral("customPromptField")));
        QTRY_VERIFY(item(QStringLiteral("customPromptField"))->hasActiveFocus());
        type(QStringLiteral("Ger"));
        hover(row(0));
        QCOMPARE(highlightedRows(), QList<int>{0});
        m_router->toggleFloatingMenuWindow();
        QVERIFY(menuClosed());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        QVERIFY(openMenu());
        QTRY_VERIFY(item(QStringLiteral("searchField"))->hasActiveFocus());
        QCOMPARE(text(QStringLiteral("searchField")), QString());
        QCOMPARE(shownPlaceholder(QStringLiteral("searchField")), QStringLiteral("Select a prompt..."));
        QCOMPARE(labels(), kLabels);
        QCOMPARE(highlightedRows(), QList<int>());
        QVERIFY(!item(QStringLiteral("customPromptField")));
        QVERIFY(!item(QStringLiteral("customPromptBox"))->isVisible());
        QCOMPARE(m_log, QStringList{kMenuHidden});
    }
};

QTEST_MAIN(TestFloatingMenuView)
#include "tst_floatingmenuview.moc"
