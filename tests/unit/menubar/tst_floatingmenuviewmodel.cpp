// The floating menu's model with the router and the prompt stream replaced by
// recorders that write to one log, so the order of closing and sending shows.

#include <floatingmenuviewmodel.h>

#include <approuting.h>
#include <promptexecutor.h>
#include <resolver.h>

#include <QSignalSpy>
#include <QTest>

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

struct RecordingRouter : AppRouting
{
    explicit RecordingRouter(QStringList *sink) : log(sink) {}
    QSystemTrayIcon *statusItem() const override { return nullptr; }
    void setStatusItem(QSystemTrayIcon *) override {}
    void openSettingsWindow() override { *log << QStringLiteral("openSettings"); }
    void toggleFloatingMenuWindow() override { *log << QStringLiteral("toggle"); }
    void openOnboardingWindow() override { *log << QStringLiteral("openOnboarding"); }
    void showToast(const QString &, std::function<void()>, std::chrono::milliseconds) override
    {
        *log << QStringLiteral("toast");
    }
    void closeOnboardingWindow() override { *log << QStringLiteral("closeOnboarding"); }
    QStringList *log;
};

struct RecordingExecution : PromptExecution
{
    explicit RecordingExecution(QStringList *sink) : log(sink) {}
    streams::AnyPublisher<Prompt> promptPublisher() override { return subject.eraseToAnyPublisher(); }
    void execute(const Prompt &prompt) override
    {
        *log << QStringLiteral("execute ") + describe(prompt);
        sent << prompt;
    }
    QStringList *log;
    QList<Prompt> sent;
    streams::PassthroughSubject<Prompt> subject;
};

const QString kTypo = QStringLiteral("Fix typo & poor grammar");
const QString kRephrase = QStringLiteral("Rephrase & improve writing");
const QString kTranslate = QStringLiteral("Translate to: ...");

} // namespace

class TestFloatingMenuViewModel : public QObject
{
    Q_OBJECT

    QStringList m_log;
    std::shared_ptr<RecordingRouter> m_router;
    std::shared_ptr<RecordingExecution> m_executor;
    std::unique_ptr<FloatingMenuViewModel> m_model;

    // Highlights row `row` with the arrow keys, from no highlight.
    void highlight(int row)
    {
        for (int i = 0; i <= row; ++i)
            m_model->moveSelectionDown();
        QCOMPARE(m_model->searchIndex(), row);
    }

private Q_SLOTS:
    void init()
    {
        m_log.clear();
        m_router = std::make_shared<RecordingRouter>(&m_log);
        m_executor = std::make_shared<RecordingExecution>(&m_log);
        Resolver::main().reset();
        Resolver::main().setRegistrationRoutine([this](Resolver &r) {
            r.register_<RecordingRouter>([this] {
                 m_log << QStringLiteral("resolve router");
                 return m_router;
             }).implements<AppRouting>();
            r.register_<RecordingExecution>([this] {
                 m_log << QStringLiteral("resolve executor");
                 return m_executor;
             }).implements<PromptExecution>();
        });
        m_model = std::make_unique<FloatingMenuViewModel>();
        QCOMPARE(m_log, QStringList({QStringLiteral("resolve executor"), QStringLiteral("resolve router")}));
        m_log.clear();
    }

    void cleanup()
    {
        m_model.reset();
        Resolver::main().reset();
    }

    void initialState()
    {
        QCOMPARE(m_model->items(), QStringList({kTypo, kRephrase, kTranslate}));
        QCOMPARE(m_model->searchIndex(), -1);
        QCOMPARE(m_model->searchTerm(), QString());
        QCOMPARE(m_model->customPrompt(), QString());
        QCOMPARE(m_model->showCustomPrompt(), false);
        QCOMPARE(m_model->customPromptPlaceholder(), QString());
    }

    void search_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("ampersand") << QStringLiteral("&") << QStringList{kTypo, kRephrase};
        QTest::newRow("upper case") << QStringLiteral("TRANS") << QStringList{kTranslate};
        QTest::newRow("no match") << QStringLiteral("xyz") << QStringList{};
        QTest::newRow("blanks kept") << QStringLiteral(" fix") << QStringList{};
        QTest::newRow("blanks not collapsed") << QStringLiteral("translate  to") << QStringList{};
        QTest::newRow("cleared") << QString() << QStringList{kTypo, kRephrase, kTranslate};
    }
    void search()
    {
        QFETCH(QString, term);
        QFETCH(QStringList, expected);
        m_model->setSearchTerm(QStringLiteral("zzz"));
        m_model->setSearchTerm(term);
        QCOMPARE(m_model->items(), expected);
        QCOMPARE(m_model->searchIndex(), -1);
        // Down on an empty list keeps nothing highlighted.
        m_model->moveSelectionDown();
        QCOMPARE(m_model->searchIndex(), expected.isEmpty() ? -1 : 0);
    }

    void typingClearsTheHighlight()
    {
        highlight(1);
        QSignalSpy indexChanged(m_model.get(), &FloatingMenuViewModel::searchIndexChanged);
        // Every label has an "a": the list stays, the highlight goes.
        m_model->setSearchTerm(QStringLiteral("a"));
        QCOMPARE(m_model->items().size(), 3);
        QCOMPARE(m_model->searchIndex(), -1);
        QCOMPARE(indexChanged.count(), 1);
        // The same text again still filters anew.
        m_model->moveSelectionDown();
        m_model->setSearchTerm(QStringLiteral("a"));
        QCOMPARE(m_model->searchIndex(), -1);
    }

    void highlightStaysWithinTheList()
    {
        m_model->moveSelectionUp();
        QCOMPARE(m_model->searchIndex(), -1);
        m_model->moveSelectionDown();
        QCOMPARE(m_model->searchIndex(), 0);
        m_model->moveSelectionUp();
        QCOMPARE(m_model->searchIndex(), 0);
        for (int i = 0; i < 4; ++i)
            m_model->moveSelectionDown();
        QCOMPARE(m_model->searchIndex(), 2);
        m_model->moveSelectionUp();
        QCOMPARE(m_model->searchIndex(), 1);
    }

    void nothingChosenNothingHappens_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<int>("index");
        QTest::newRow("no highlight") << QString() << -1;
        // The pointer left a row number behind that the empty list no longer has.
        QTest::newRow("empty list") << QStringLiteral("xyz") << 0;
    }
    void nothingChosenNothingHappens()
    {
        QFETCH(QString, term);
        QFETCH(int, index);
        m_model->setSearchTerm(term);
        m_model->setSearchIndex(index);
        m_model->submitSelection();
        QCOMPARE(m_log, QStringList());
        QCOMPARE(m_model->showCustomPrompt(), false);
        QVERIFY(!m_model->selectedPrompt());
    }

    void typoFixClosesTheMenuThenSends()
    {
        highlight(0);
        m_model->submitSelection();
        QCOMPARE(m_log, QStringList({QStringLiteral("toggle"), QStringLiteral("execute typoFix")}));
        QCOMPARE(m_model->showCustomPrompt(), false);
    }

    void secondStepAsksFirst_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("placeholder");
        QTest::newRow("rephrase") << 1 << kRephrase << QStringLiteral("Additional prompt...");
        QTest::newRow("translate") << 2 << kTranslate << QStringLiteral("Language...");
    }
    void secondStepAsksFirst()
    {
        QFETCH(int, row);
        QFETCH(QString, label);
        QFETCH(QString, placeholder);
        highlight(row);
        m_model->submitSelection();
        QCOMPARE(m_log, QStringList());
        QCOMPARE(m_model->showCustomPrompt(), true);
        QCOMPARE(m_model->customPromptPlaceholder(), placeholder);
        QCOMPARE(m_model->searchTerm(), label);
        QCOMPARE(m_model->items(), QStringList{label});
        QCOMPARE(m_model->searchIndex(), -1);
    }

    void translateNeedsALanguage()
    {
        highlight(2);
        m_model->submitSelection();
        m_model->submitSelection();
        QCOMPARE(m_log, QStringList());
        QCOMPARE(m_model->showCustomPrompt(), true);
        m_model->setCustomPrompt(QStringLiteral("German"));
        m_model->submitSelection();
        QCOMPARE(m_log, QStringList({QStringLiteral("toggle"), QStringLiteral("execute translate(German)")}));
        QCOMPARE(m_executor->sent, QList<Prompt>{Prompt::translate(QStringLiteral("German"))});
    }

    void rephraseSendsTheInstructionAsTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("untouched field") << QString();
        QTest::newRow("cleared field") << QStringLiteral("");
        QTest::newRow("typed") << QStringLiteral(" shorter ");
    }
    void rephraseSendsTheInstructionAsTyped()
    {
        QFETCH(QString, typed);
        highlight(1);
        m_model->submitSelection();
        m_model->setCustomPrompt(typed);
        m_model->submitSelection();
        QCOMPARE(m_log.size(), 2);
        QCOMPARE(m_log.first(), QStringLiteral("toggle"));
        QCOMPARE(m_executor->sent.size(), 1);
        const Prompt sent = m_executor->sent.first();
        QCOMPARE(sent.kind(), Prompt::Kind::rephrase);
        // Present even when empty: the user went through the field.
        QVERIFY(sent.customPrompt().has_value());
        QCOMPARE(*sent.customPrompt(), typed);
    }

    void secondStepSendsTheEntryChosenFirst()
    {
        highlight(2);
        m_model->submitSelection();
        m_model->setCustomPrompt(QStringLiteral("French"));
        // Back to the full list and the pointer on the typo-fix row.
        m_model->setSearchTerm(QString());
        m_model->setSearchIndex(0);
        m_model->submitSelection();
        QCOMPARE(m_log, QStringList({QStringLiteral("toggle"), QStringLiteral("execute translate(French)")}));
    }

    void escapeLeavesTheSecondStep()
    {
        highlight(2);
        m_model->submitSelection();
        m_model->setCustomPrompt(QStringLiteral("Ger"));
        m_model->moveSelectionDown();
        m_model->cancelCustomPrompt();
        QCOMPARE(m_model->items(), QStringList({kTypo, kRephrase, kTranslate}));
        QCOMPARE(m_model->searchTerm(), QString());
        QCOMPARE(m_model->customPrompt(), QString());
        QCOMPARE(m_model->searchIndex(), -1);
        QCOMPARE(m_model->showCustomPrompt(), false);
        QCOMPARE(m_model->customPromptPlaceholder(), QStringLiteral("Language..."));
        QCOMPARE(m_log, QStringList());
        // The earlier choice is forgotten: the highlighted row counts again.
        highlight(0);
        m_model->submitSelection();
        QCOMPARE(m_log, QStringList({QStringLiteral("toggle"), QStringLiteral("execute typoFix")}));
    }

    void viewIsToldOfEveryChange()
    {
        QSignalSpy items(m_model.get(), &FloatingMenuViewModel::itemsChanged);
        QSignalSpy index(m_model.get(), &FloatingMenuViewModel::searchIndexChanged);
        QSignalSpy term(m_model.get(), &FloatingMenuViewModel::searchTermChanged);
        QSignalSpy shown(m_model.get(), &FloatingMenuViewModel::showCustomPromptChanged);
        QSignalSpy placeholder(m_model.get(), &FloatingMenuViewModel::customPromptPlaceholderChanged);
        QSignalSpy custom(m_model.get(), &FloatingMenuViewModel::customPromptChanged);

        m_model->setSearchTerm(QStringLiteral("&"));
        QCOMPARE(items.count(), 1);
        QCOMPARE(term.count(), 1);
        m_model->moveSelectionDown();
        m_model->moveSelectionUp(); // stays: nothing to tell
        m_model->moveSelectionDown();
        QCOMPARE(index.count(), 2);
        m_model->submitSelection(); // "Rephrase" is the second match of "&"
        QCOMPARE(shown.count(), 1);
        QCOMPARE(placeholder.count(), 1);
        QCOMPARE(term.count(), 2);
        QCOMPARE(items.count(), 2);
        QCOMPARE(index.count(), 3);
        m_model->setCustomPrompt(QStringLiteral("x"));
        QCOMPARE(custom.count(), 1);
        m_model->cancelCustomPrompt();
        QCOMPARE(shown.count(), 2);
        QCOMPARE(items.count(), 3);
        QCOMPARE(custom.count(), 2);
        QCOMPARE(term.count(), 3);
    }
};

QTEST_MAIN(TestFloatingMenuViewModel)
#include "tst_floatingmenuviewmodel.moc"
