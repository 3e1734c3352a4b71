#include "worker.h"

#include "accessibilityhandler.h"
#include "datastoring.h"
#include "hotkeylistener.h"
#include "promptexecutor.h"
#include "systemsound.h"
#include "textextractor.h"
#include "userpreferences.h"

#include <approuting.h>
#include <cancellation.h>
#include <contentserving.h>
#include <launchatlogin.h>

#include <QPointer>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

const QString kUsageCounterKey = QStringLiteral("usageCounterKey");

// An answer of exactly two double quotes is the backend's empty answer.
bool isEmptyAnswer(const QString &text)
{
    return text == QLatin1String("\"\"");
}

QCoro::Task<void> runRequest(std::shared_ptr<ContentServing> content, QString text, Prompt prompt,
                             std::function<void(const Worker::RequestResult &)> promise)
{
    try {
        ContentResponseDTO answer;
        switch (prompt.kind()) {
        case Prompt::Kind::typoFix:
            answer = co_await content->fix(text);
            break;
        case Prompt::Kind::rephrase:
            answer = co_await content->rephrase(text, prompt.customPrompt());
            break;
        case Prompt::Kind::translate:
            answer = co_await content->translate(text, prompt.language());
            break;
        }
        promise(Worker::RequestResult::success(QString::fromStdString(answer.output)));
    } catch (const corvane::CorvaneError &error) {
        promise(Worker::RequestResult::failure(error));
    } catch (const std::exception &error) {
        promise(Worker::RequestResult::failure(corvane::CorvaneError::unknown(QString::fromUtf8(error.what()))));
    }
}

} // namespace

const QString Worker::kNotWrittenBackMessage =
    QStringLiteral("The answer was not written back: the window you took the text from is no longer in front.");

Worker::Worker()
{
    bind();
    accessibilityHandler->requestAccessibilityPermission();
    applyStartupDefaults();
}

void Worker::bind()
{
    // The subscriptions live in this worker's cancellables, so no callback
    // below can run after the worker is gone; holding `this` is safe.

    // The text action: the latest prompt with the latest signed-in flag.
    // Capture and write-back run one at a time; whatever arrives meanwhile
    // waits for them (runWaiting).
    promptExecutor->promptPublisher()
        .receiveOnMain()
        .sink([this](const Prompt &prompt) { receivePrompt(prompt); })
        .store(cancellables);
    tokenStorage->isLoggedIn()
        .receiveOnMain()
        .sink([this](bool signedIn) { receiveSignedIn(signedIn); })
        .store(cancellables);

    // The floating menu. Opening it moves the focus, so it too waits for a
    // capture or write-back to end.
    hotkeyListener->hotkeyPublisher()
        .filter([](TriggeredKeyboardShortcut shortcut) { return shortcut == TriggeredKeyboardShortcut::floatingMenu; })
        .sink([this](TriggeredKeyboardShortcut) { enqueue({Waiting::Kind::menuToggle, {}, false}); })
        .store(cancellables);

    // Feedback for the states that need it.
    applicationStateObserver->applicationStatePublisher()
        .receiveOnMain()
        .sink([this](const ApplicationState &state) { giveFeedback(state); })
        .store(cancellables);
}

void Worker::receivePrompt(const Prompt &prompt)
{
    // Until the stored session has been read, the newest action waits for it.
    if (!m_signedIn)
        m_beforeFirstFlag = prompt;
    else
        enqueue({Waiting::Kind::prompt, prompt, *m_signedIn});
}

void Worker::receiveSignedIn(bool signedIn)
{
    // Every renewal of the tokens says "signed in" again; only a change of
    // the flag counts. A sign-out runs nothing, and a sign-in runs only the
    // action it was refused for, never one the user ran before signing out:
    // whatever has the focus now (our own sign-in form) is not what they chose.
    if (m_signedIn == signedIn)
        return;
    m_signedIn = signedIn;
    if (const std::optional<Prompt> waiting = std::exchange(m_beforeFirstFlag, std::nullopt)) {
        enqueue({Waiting::Kind::prompt, *waiting, signedIn});
        return;
    }
    const std::optional<Refused> refused = std::exchange(m_refused, std::nullopt);
    if (signedIn && refused && refused->window == textExtractor->otherApplicationWindowInFront())
        enqueue({Waiting::Kind::prompt, refused->prompt, true});
}

void Worker::enqueue(Waiting item)
{
    if (item.kind == Waiting::Kind::prompt) {
        // The newest prompt wins over those still waiting.
        std::erase_if(m_waiting, [](const Waiting &w) { return w.kind == Waiting::Kind::prompt; });
        m_waiting.push_back(std::move(item));
    } else if (!m_waiting.empty() && m_waiting.back().kind == Waiting::Kind::menuToggle) {
        // Two toggles in a row leave the menu as it was.
        m_waiting.pop_back();
    } else {
        m_waiting.push_back(std::move(item));
    }
    runWaiting();
}

void Worker::runWaiting()
{
    // Only the outermost call runs; a capture's nested loop merely queues.
    while (!m_busy && !m_waiting.empty()) {
        const Waiting item = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (item.kind == Waiting::Kind::menuToggle)
            appRouter->toggleFloatingMenuWindow();
        else
            runPrompt(item.prompt, item.signedIn);
    }
}

auto Worker::markBusy()
{
    // Cleared however the capture or write-back ends, a throw included:
    // otherwise every later shortcut would wait for ever.
    m_busy = true;
    return qScopeGuard([this] { m_busy = false; });
}

void Worker::runPrompt(const Prompt &prompt, bool signedIn)
{
    if (!signedIn) {
        // Our own windows, while signed out, hold only the sign-in form: an
        // action pressed there is never kept.
        if (const quint32 window = textExtractor->otherApplicationWindowInFront())
            m_refused = Refused{prompt, window};
        else
            m_refused.reset();
        auto router = appRouter.get();
        router->showToast(QStringLiteral("Please log in to continue."), [router] { router->openSettingsWindow(); },
                          kToastDuration);
        return;
    }
    // A newer action replaces the older one: its answer is no longer wanted.
    const bool abandoned = abandonRequest();

    const std::optional<QString> text = [this] {
        const auto busy = markBusy();
        return textExtractor->extractSelectedText();
    }();

    // A prompt that came in during the capture replaces this one before its
    // request is even sent.
    const bool superseded = std::any_of(m_waiting.cbegin(), m_waiting.cend(),
                                        [](const Waiting &w) { return w.kind == Waiting::Kind::prompt; });
    if (!text || text->isEmpty() || superseded) {
        textExtractor->forgetCapture();
        if (abandoned && !superseded
            && applicationStateObserver->applicationStateSubject.value() == ApplicationState::inProgress())
            applicationStateObserver->applicationStateSubject.send(ApplicationState::idle());
        return;
    }
    countUsage();
    m_request = makeRequestPublisher(*text, prompt).sink([this](const RequestResult &result) { receiveResult(result); });
}

bool Worker::abandonRequest()
{
    const bool running = bool(m_request);
    m_request.cancel();
    return running;
}

void Worker::receiveResult(const RequestResult &result)
{
    // Only the wanted request delivers: an abandoned one was unsubscribed. A
    // capture or write-back cannot be running now: a capture abandons the
    // request first, and the only write-back is this request's own.
    m_request = {};
    if (!result.isSuccess() || isEmptyAnswer(result.output)) {
        textExtractor->forgetCapture();
        runWaiting();
        return;
    }
    const bool written = [this, &result] {
        const auto busy = markBusy();
        return textExtractor->replaceSelectedText(result.output);
    }();
    if (!written)
        appRouter->showToast(kNotWrittenBackMessage, [] {}, kToastDuration);
    runWaiting();
}

streams::AnyPublisher<Worker::RequestResult> Worker::makeRequestPublisher(const QString &text, const Prompt &prompt)
{
    auto content = contentService.get();
    return streams::AnyPublisher<RequestResult>([content, text, prompt](std::function<void(const RequestResult &)> down) {
               auto alive = std::make_shared<bool>(true);
               auto cancellation = std::make_shared<corvane::Cancellation>();
               {
                   const corvane::CancellationScope scope(cancellation);
                   runRequest(content, text, prompt, [alive, down](const RequestResult &result) {
                       if (std::exchange(*alive, false))
                           down(result);
                   });
               }
               // Unsubscribing abandons the request: it is cancelled, not left to run.
               return streams::AnyCancellable([alive, cancellation] {
                   *alive = false;
                   cancellation->cancel();
               });
           })
        .receiveOnMain()
        .handleEvents([this] { applicationStateObserver->applicationStateSubject.send(ApplicationState::inProgress()); },
                      [this](const RequestResult &result) { handleResult(result); });
}

void Worker::handleResult(const RequestResult &result)
{
    auto &observer = *applicationStateObserver;
    if (result.isSuccess()) {
        observer.scheduleState(ApplicationState::idle());
        observer.applicationStateSubject.send(ApplicationState::success());
        return;
    }
    const corvane::CorvaneError &error = *result.error;
    if (error.kind() == corvane::CorvaneError::Kind::api) {
        const bool needsUpdate = error.domainCode() == corvane::DomainErrorCode::appRequiresUpdate();
        observer.scheduleState(ApplicationState::idle());
        observer.applicationStateSubject.send(ApplicationState::error(
            needsUpdate ? ApplicationStateError::AppRequiresUpdate : ApplicationStateError::ApiError));
        return;
    }
    // Any other failure ends the action like a refused request: the sound,
    // and rest 3 s later. An expired session has already been reported by the
    // token renewal; that state is left as it is.
    if (observer.applicationStateSubject.value() == ApplicationState::inProgress()) {
        observer.scheduleState(ApplicationState::idle());
        observer.applicationStateSubject.send(ApplicationState::error(ApplicationStateError::ApiError));
    }
}

void Worker::giveFeedback(const ApplicationState &state)
{
    if (!state.isError())
        return;
    auto router = appRouter.get();
    switch (state.errorReason()) {
    case ApplicationStateError::SessionExpired:
        router->showToast(QStringLiteral("Your session has expired, please log in to continue."),
                          [router] { router->openSettingsWindow(); }, kToastDuration);
        break;
    case ApplicationStateError::AppRequiresUpdate:
        router->showToast(QStringLiteral("A new version of Wugg it! is available. Please update to continue."),
                          [router] { router->openSettingsWindow(); }, kToastDuration);
        break;
    case ApplicationStateError::ApiError:
        break;
    }
    SystemSound::zorble().play();
}

void Worker::countUsage()
{
    const QString stored = dataStore->string(kUsageCounterKey).value_or(QStringLiteral("0"));
    bool ok = false;
    qint64 count = stored.toLongLong(&ok, 10);
    if (!ok || stored.trimmed() != stored)
        count = 0;
    dataStore->setValue(QString::number(count + 1), kUsageCounterKey);

    if (!progressTrainingUsageIntervals.contains(stored))
        return;
    auto observer = applicationStateObserver.get();
    observer->applicationStateSubject.send(ApplicationState::inProgress());
    QTimer::singleShot(kHintDemoDelay, Qt::PreciseTimer, QCoreApplication::instance(), [observer] {
        observer->scheduleState(ApplicationState::idle());
        observer->applicationStateSubject.send(ApplicationState::success());
    });
    appRouter->showToast(QStringLiteral("Wugging it!... The wuggy shows you the progress."), [] {}, kHintDuration);
}

void Worker::applyStartupDefaults()
{
    // Launch at login starts switched on, at the first start only: after it
    // the switch is the user's. Versions before the mark wrote the icon
    // style at every start, so a stored style is a start before this one
    // too (and its autostart entry, or the lack of one, the user's choice);
    // so is an autostart entry, which stays as it is.
    static const QString firstStartDoneKey = QStringLiteral("firstStartDone");
    if (!dataStore->string(firstStartDoneKey)) {
        LaunchAtLogin *launch = LaunchAtLogin::shared();
        if (!dataStore->string(UserPreferences::kMenuBarIconStyleKey) && !launch->isEnabled())
            launch->setEnabled(true);
        dataStore->setValue(QStringLiteral("true"), firstStartDoneKey);
    }
    SystemSound::zorble().play();
    if (!dataStore->string(UserPreferences::kMenuBarIconStyleKey))
        dataStore->setValue(QStringLiteral("colored"), UserPreferences::kMenuBarIconStyleKey);
}
