// The real program against the loopback backend, driven from outside like a
// user would: text selected in mousepad, the shortcut pressed on the X
// server, the answer in the document.

#include "programundertest.h"

#include <backendstandin.h>

#include <keychainoperator.h>

#include <QDir>
#include <QJsonDocument>
#include <QSet>

using desktop::activeWindowName;
using desktop::Mousepad;
using desktop::press;
using desktop::screenshot;
using desktop::type;
using desktop::visibleWindowsOf;
using desktop::xdotool;

namespace {

// The prompt menu's window is titled with the program's name (it shows no
// title bar); the editor's with its file.
bool menuHasTheFocus()
{
    return QTest::qWaitFor([] { return activeWindowName() == QLatin1String("Wugg it!"); }, 5000);
}

bool editorHasTheFocus()
{
    return QTest::qWaitFor([] { return activeWindowName().contains(QLatin1String("Mousepad")); }, 5000);
}

bool isRunning(const QString &commandLine)
{
    return !desktop::run(QStringLiteral("pgrep"), {QStringLiteral("-f"), QStringLiteral("^") + commandLine + u'$'})
                .trimmed()
                .isEmpty();
}

// A terminal running a shell command, closed when this goes.
class Terminal
{
public:
    Terminal(const QString &program, const QString &command)
    {
        // xterm takes the rest of its line after -e; sakura one string it
        // splits as a shell would (its -e gives up on more than one word).
        Q_ASSERT(!command.contains(u'\''));
        if (program == QLatin1String("sakura"))
            m_process.start(program, {QStringLiteral("-x"), QStringLiteral("sh -c '%1'").arg(command)});
        else
            m_process.start(program, {QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"), command});
    }
    ~Terminal()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    // Waits for the window, brings it to the front.
    bool show()
    {
        if (!m_process.waitForStarted(5000))
            return false;
        const QString pid = QString::number(m_process.processId());
        const bool mapped = QTest::qWaitFor([&] {
            m_window = desktop::run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                                QStringLiteral("--pid"), pid})
                           .trimmed()
                           .split('\n')
                           .value(0);
            return !m_window.isEmpty();
        }, 15000);
        if (!mapped)
            return false;
        desktop::run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                                 QString::fromLatin1(m_window)});
        QTest::qWait(500);
        return true;
    }

    // Triple-clicks the first line, as a user selects in a terminal; xterm
    // takes its line break along.
    void selectFirstLine()
    {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::fromLatin1(m_window),
                 QStringLiteral("15"), QStringLiteral("10"), QStringLiteral("click"), QStringLiteral("--repeat"),
                 QStringLiteral("3"), QStringLiteral("1")});
    }

private:
    QProcess m_process;
    QByteArray m_window;
};

// Owns the clipboard with some text, as an application the user copied from.
class CopiedText
{
public:
    explicit CopiedText(const QByteArray &text)
    {
        m_xclip.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                                QStringLiteral("clipboard")});
        m_xclip.waitForStarted(5000);
        m_xclip.write(text);
        m_xclip.closeWriteChannel();
        if (!QTest::qWaitFor([&] { return desktop::clipboardAsSeenByOthers() == text; }, 5000))
            qWarning("xclip did not take the clipboard");
    }
    ~CopiedText()
    {
        m_xclip.kill();
        m_xclip.waitForFinished(3000);
    }

private:
    QProcess m_xclip;
};

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private:
    BackendStandIn m_backend;
    desktop::ProgramUnderTest m_program{m_backend};
    KeychainOperator m_keychain;

    void putTokensInTheKeyring()
    {
        const auto tokens = m_backend.issueTokens();
        m_keychain.saveKeychainData(QJsonDocument(tokens.toJson()).toJson(QJsonDocument::Compact),
                                    QStringLiteral("tokenStorage"));
    }

    bool startProgram(bool usedBefore = false) { return m_program.start(usedBefore); }

    // Waits until the program has answered count content requests and had
    // the time to paste (two synthetic keystrokes with their pauses).
    bool waitForAnswers(const QString &path, int count)
    {
        const bool answered = QTest::qWaitFor(
            [&] {
                const auto sent = m_backend.requestsTo(path);
                return sent.size() >= count && sent.last().status != 0;
            },
            10000);
        QTest::qWait(1500);
        return answered;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_backend.listen());
        QVERIFY(m_program.isValid());
    }

    void cleanup()
    {
        m_program.stop();
        m_keychain.deleteKeychainData(QStringLiteral("tokenStorage"));
    }

    void signedInTheShortcutsReplaceTheSelection()
    {
        putTokensInTheKeyring();
        QVERIFY(startProgram());

        // A selection, fixed with Ctrl+Alt+F.
        {
            Mousepad editor;
            QVERIFY(editor.open(QStringLiteral("Keep this.\nI recieve teh letter untill Monday.\n"), 2, 0));
            press(QStringLiteral("shift+End"));
            press(QStringLiteral("ctrl+alt+f"));
            QVERIFY(waitForAnswers(QStringLiteral("content/fix"), 1));
            QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).last().json.value(QLatin1String("input")),
                     QStringLiteral("I recieve teh letter untill Monday."));
            QCOMPARE(editor.contents(), QStringLiteral("Keep this.\nI receive the letter until Monday.\n"));
            QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>(QByteArray()));
        }

        // No selection: the paragraph up to the caret.
        {
            Mousepad editor;
            QVERIFY(editor.open(QStringLiteral("Teh cat sat wich way, and more\n"), 1, 20));
            press(QStringLiteral("ctrl+alt+f"));
            QVERIFY(waitForAnswers(QStringLiteral("content/fix"), 2));
            QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).last().json.value(QLatin1String("input")),
                     QStringLiteral("Teh cat sat wich way"));
            QCOMPARE(editor.contents(), QStringLiteral("The cat sat which way, and more\n"));
            QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>(QByteArray()));
        }

        // Ctrl+Alt+R rephrases the selection.
        {
            Mousepad editor;
            QVERIFY(editor.open(QStringLiteral("First one. Second one.\nTail\n"), 1, 0));
            press(QStringLiteral("shift+End"));
            press(QStringLiteral("ctrl+alt+r"));
            QVERIFY(waitForAnswers(QStringLiteral("content/rephrase"), 1));
            const auto sent = m_backend.requestsTo(QStringLiteral("content/rephrase")).last();
            QCOMPARE(sent.json.value(QLatin1String("input")), QStringLiteral("First one. Second one."));
            QCOMPARE(sent.json.value(QLatin1String("customPrompt")), QString());
            const QString contents = editor.contents();
            QVERIFY2(contents.startsWith(QLatin1String("In other words")), qPrintable(contents));
            QVERIFY2(contents.endsWith(QLatin1String("\nTail\n")), qPrintable(contents));
            QVERIFY(!contents.contains(QLatin1String("First one. Second one.")));
        }
    }

    void theUsersClipboardSurvives()
    {
        putTokensInTheKeyring();
        QVERIFY(startProgram());
        const CopiedText copied("what the user copied");

        Mousepad editor;
        QVERIFY(editor.open(QStringLiteral("I recieve teh letter.\n"), 1, 0));
        press(QStringLiteral("shift+End"));
        press(QStringLiteral("ctrl+alt+f"));
        QVERIFY(waitForAnswers(QStringLiteral("content/fix"), 1));
        QCOMPARE(editor.contents(), QStringLiteral("I receive the letter.\n"));
        QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>("what the user copied"));

        // An action that finds nothing to do gives it back at once too.
        Mousepad empty;
        QVERIFY(empty.open(QStringLiteral("\n"), 1, 0));
        press(QStringLiteral("ctrl+alt+f"));
        QTest::qWait(1500);
        QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).size(), 1);
        QCOMPARE(desktop::clipboardAsSeenByOthers(), std::optional<QByteArray>("what the user copied"));
    }

    void anAnswerGoesOnlyWhereTheTextCameFrom()
    {
        putTokensInTheKeyring();
        QVERIFY(startProgram(true));
        m_backend.setContentDelay(2500);
        const QSet<QByteArray> before = visibleWindowsOf(QStringLiteral("wuggit"));

        Mousepad source;
        QVERIFY(source.open(QStringLiteral("Teh source text.\n"), 1, 0));
        press(QStringLiteral("shift+End"));
        press(QStringLiteral("ctrl+alt+f"));
        QVERIFY(QTest::qWaitFor([&] { return !m_backend.requestsTo(QStringLiteral("content/fix")).isEmpty(); }, 5000));
        // The user moves on to another window before the answer comes.
        Mousepad other;
        QVERIFY(other.open(QStringLiteral("Other text.\n"), 1, 0));
        // A toast says why nothing happens.
        const bool toast = QTest::qWaitFor([&] { return !(visibleWindowsOf(QStringLiteral("wuggit")) - before).isEmpty(); },
                                           6000);
        m_backend.setContentDelay(0);
        QVERIFY(m_backend.requestsTo(QStringLiteral("content/fix")).last().status == 200);
        QTest::qWait(300);
        const QString shot = QDir::current().filePath(QStringLiteral("answer-not-written-toast.png"));
        desktop::run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), shot});
        QTest::qWait(1000);
        QCOMPARE(other.contents(), QStringLiteral("Other text.\n"));
        source.activate();
        QCOMPARE(source.contents(), QStringLiteral("Teh source text.\n"));
        QVERIFY(toast);
    }

    void terminalsKeepTheirCommands_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("xterm") << QStringLiteral("xterm");
        QTest::newRow("sakura (VTE)") << QStringLiteral("sakura");
    }

    void terminalsKeepTheirCommands()
    {
        QFETCH(QString, program);
        putTokensInTheKeyring();
        QVERIFY(startProgram());
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("line"));
        const auto lineRead = [&out] {
            QFile file(out);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };

        // A running command and nothing selected: the command survives, no
        // keys reach it, nothing is sent.
        {
            const QString sleeping = QStringLiteral("sleep 3%1").arg(QTest::currentDataTag()[0] == 'x' ? 11 : 12);
            Terminal terminal(program, QStringLiteral("%1; read line; echo \"[$line]\" > %2").arg(sleeping, out));
            QVERIFY(terminal.show());
            QVERIFY(QTest::qWaitFor([&] { return isRunning(sleeping); }, 5000));
            press(QStringLiteral("ctrl+alt+f"));
            QTest::qWait(1500);
            QVERIFY2(isRunning(sleeping), "the running command was interrupted");
            QVERIFY(m_backend.requestsTo(QStringLiteral("content/fix")).isEmpty());
            desktop::run(QStringLiteral("pkill"), {QStringLiteral("-f"), QStringLiteral("^") + sleeping + u'$'});
            press(QStringLiteral("Return"));
            QTRY_COMPARE_WITH_TIMEOUT(lineRead(), QStringLiteral("[]\n"), 5000);
        }

        // A selection: the answer goes in where the terminal pastes, here
        // into the command reading its input, without a line break that
        // would end that input.
        QFile::remove(out);
        {
            Terminal terminal(program, QStringLiteral("echo teh; read line; echo \"[$line]\" > %1; sleep 30").arg(out));
            QVERIFY(terminal.show());
            terminal.selectFirstLine();
            press(QStringLiteral("ctrl+alt+f"));
            QVERIFY(waitForAnswers(QStringLiteral("content/fix"), 1));
            QCOMPARE(m_backend.requestsTo(QStringLiteral("content/fix")).last().json.value(QLatin1String("input")).toString().trimmed(),
                     QStringLiteral("teh"));
            type(QStringLiteral("s"));
            press(QStringLiteral("Return"));
            QTRY_COMPARE_WITH_TIMEOUT(lineRead(), QStringLiteral("[thes]\n"), 5000);
        }
    }

    void aSecondStartOpensTheSettingsOfTheFirst()
    {
        QVERIFY(startProgram(true));
        const QSet<QByteArray> before = visibleWindowsOf(QStringLiteral("wuggit"));
        QProcess second;
        second.setProcessEnvironment(m_program.environment());
        second.start(QStringLiteral(WUGGIT_BINARY), {});
        QVERIFY2(second.waitForFinished(10000), "a second copy runs");
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(QTest::qWaitFor([&] { return !(visibleWindowsOf(QStringLiteral("wuggit")) - before).isEmpty(); }, 10000));
        screenshot(QStringLiteral("second-start-opens-settings.png"));
        second.start(QStringLiteral(WUGGIT_BINARY), {QStringLiteral("--help")});
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(second.exitCode() == 0 && second.readAllStandardOutput().startsWith("Usage: "));

        // A copy killed outright leaves its lock file behind; the next start
        // runs all the same.
        m_program.killHard();
        QProcess next;
        next.setProcessEnvironment(m_program.environment());
        next.start(QStringLiteral(WUGGIT_BINARY), {});
        const auto lockHolder = [this] {
            QFile lock(m_program.configPath(QStringLiteral("Wugg/wuggit.lock")));
            return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
        };
        QVERIFY(QTest::qWaitFor([&] { return lockHolder() == next.processId(); }, 10000));
        QVERIFY(next.state() == QProcess::Running);
        desktop::endProcess(next);
    }

    void aDamagedInstallationSaysSoInTheTray()
    {
        QTemporaryDir dir;
        QFile module(dir.filePath(QStringLiteral("wuggit-windows.so")));
        QVERIFY(module.open(QIODevice::WriteOnly) && module.write("not a library") > 0);
        module.close();
        QProcessEnvironment damaged;
        damaged.insert(QStringLiteral("WUGGIT_WINDOWS_MODULE"), module.fileName());
        QVERIFY(m_program.start(true, damaged));

        // Signed out, the shortcut wants its toast; the tray says instead
        // why no window can open.
        const QSet<QByteArray> before = visibleWindowsOf(QStringLiteral("wuggit"));
        press(QStringLiteral("ctrl+alt+f"));
        QVERIFY(QTest::qWaitFor([&] { return !(visibleWindowsOf(QStringLiteral("wuggit")) - before).isEmpty(); }, 10000));
        screenshot(QStringLiteral("windows-not-loaded-balloon.png"));
        QVERIFY(!m_program.loadedLibraries().contains(QStringLiteral("wuggit-windows.so")));
    }

    void thePromptMenu()
    {
        putTokensInTheKeyring();
        QVERIFY(startProgram(true));
        Mousepad editor;
        QVERIFY(editor.open(QStringLiteral("Keep this.\nThe cat sat on the mat.\n"), 2, 0));
        press(QStringLiteral("shift+End"));

        // A translation, chosen by keyboard.
        press(QStringLiteral("ctrl+alt+o"));
        QVERIFY(menuHasTheFocus());
        screenshot(QStringLiteral("prompt-menu-step1.png"));
        type(QStringLiteral("trans"));
        press(QStringLiteral("Down"));
        press(QStringLiteral("Return"));
        // The language field has the focus: typing goes there.
        type(QStringLiteral("German"));
        screenshot(QStringLiteral("prompt-menu-step2.png"));
        press(QStringLiteral("Return"));
        QVERIFY(editorHasTheFocus());
        QVERIFY(waitForAnswers(QStringLiteral("content/translate"), 1));
        const auto translated = m_backend.requestsTo(QStringLiteral("content/translate")).last();
        QCOMPARE(translated.json.value(QLatin1String("customPrompt")), QStringLiteral("German"));
        QCOMPARE(translated.json.value(QLatin1String("input")), QStringLiteral("The cat sat on the mat."));
        QCOMPARE(editor.contents(), QStringLiteral("Keep this.\n[German] The cat sat on the mat.\n"));

        // Escape, and the shortcut a second time, close it with nothing sent.
        const qsizetype sent = m_backend.requests().size();
        press(QStringLiteral("ctrl+alt+o"));
        QVERIFY(menuHasTheFocus());
        press(QStringLiteral("Escape"));
        QVERIFY(editorHasTheFocus());
        press(QStringLiteral("ctrl+alt+o"));
        QVERIFY(menuHasTheFocus());
        press(QStringLiteral("ctrl+alt+o"));
        QVERIFY(editorHasTheFocus());
        QTest::qWait(500);
        QCOMPARE(m_backend.requests().size(), sent);

        // A rephrase with an instruction of the user's own.
        press(QStringLiteral("Home"));
        press(QStringLiteral("shift+End"));
        press(QStringLiteral("ctrl+alt+o"));
        QVERIFY(menuHasTheFocus());
        type(QStringLiteral("reph"));
        press(QStringLiteral("Down"));
        press(QStringLiteral("Return"));
        type(QStringLiteral("shorter"));
        press(QStringLiteral("Return"));
        QVERIFY(waitForAnswers(QStringLiteral("content/rephrase"), 1));
        const auto rephrased = m_backend.requestsTo(QStringLiteral("content/rephrase")).last();
        QCOMPARE(rephrased.json.value(QLatin1String("customPrompt")), QStringLiteral("shorter"));
        QCOMPARE(rephrased.json.value(QLatin1String("input")), QStringLiteral("[German] The cat sat on the mat."));
        QVERIFY(editor.contents().contains(QLatin1String("In other words (shorter): ")));
    }

    void signedOutAToastLeadsToTheSettings()
    {
        m_keychain.deleteKeychainData(QStringLiteral("tokenStorage"));
        QVERIFY(startProgram());
        Mousepad editor;
        QVERIFY(editor.open(QStringLiteral("Teh untouched text.\n"), 1, 0));
        press(QStringLiteral("shift+End"));

        const QSet<QByteArray> before = visibleWindowsOf(QStringLiteral("wuggit"));
        press(QStringLiteral("ctrl+alt+f"));
        QSet<QByteArray> toasts;
        const bool shown = QTest::qWaitFor([&] {
            toasts = visibleWindowsOf(QStringLiteral("wuggit")) - before;
            return !toasts.isEmpty();
        }, 10000);
        if (!shown)
            qWarning("no toast; the program's visible windows: %s, the focus: %s",
                     visibleWindowsOf(QStringLiteral("wuggit")).values().join(' ').constData(),
                     desktop::run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")})
                         .trimmed()
                         .constData());
        QVERIFY(shown);
        QCOMPARE(toasts.size(), 1);
        const QByteArray toast = *toasts.cbegin();

        const QString shot = QDir::current().filePath(QStringLiteral("signed-out-toast-under-tray.png"));
        desktop::run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), shot});
        QVERIFY(QFileInfo(shot).size() > 0);
        qInfo("screenshot kept at %s", qPrintable(shot));

        // The click opens the settings window; the toast goes.
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::fromLatin1(toast), QStringLiteral("20"),
                 QStringLiteral("10"), QStringLiteral("click"), QStringLiteral("1")});
        QSet<QByteArray> opened;
        QVERIFY(QTest::qWaitFor([&] {
            const QSet<QByteArray> now = visibleWindowsOf(QStringLiteral("wuggit"));
            opened = now - before - toasts;
            return !now.contains(toast) && !opened.isEmpty();
        }, 5000));

        // Nothing was captured or sent, the text is as it was.
        QVERIFY(m_backend.requestsTo(QStringLiteral("content/fix")).isEmpty());
        editor.activate();
        QCOMPARE(editor.contents(), QStringLiteral("Teh untouched text.\n"));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
