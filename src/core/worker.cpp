#include "worker.h"

#include "accessibilityhandler.h"
#include "datastoring.h"
#include "hotkeylistener.h"
#include "promptexecutor.h"
#include "systemsound.h"
#include "textextractor.h"
#include "userpreferences.h"

#include <approuting.h>
#include <contentserving.h>
#include <launchatlogin.h>

#include <QPointer>
#include <QTimer>

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
    auto router = appRouter.get();
    auto extractor = textExtractor.get();

    // The text action. A change of the signed-in flag repeats the last prompt.
    auto captured = streams::combineLatest(promptExecutor->promptPublisher(), tokenStorage->isLoggedIn())
                        .receiveOnMain()
                        .compactMap([this, router, extractor](const std::pair<Prompt, bool> &pair)
                                        -> std::optional<std::pair<QString, Prompt>> {
                            if (!pair.second) {
                                router->showToast(QStringLiteral("Please log in to continue."),
                                                  [router] { router->openSettingsWindow(); }, kToastDuration);
                                return std::nullopt;
                            }
                            const std::optional<QString> text = extractor->extractSelectedText();
                            if (!text || text->isEmpty())
                                return std::nullopt;
                            countUsage();
                            return std::make_pair(*text, pair.first);
                        });
    streams::switchToLatest(captured.map([this](const std::pair<QString, Prompt> &job) {
        return makeRequestPublisher(job.first, job.second);
    }))
        .filter([](const RequestResult &result) { return !result.isSuccess() || !isEmptyAnswer(result.output); })
        .sink([extractor](const RequestResult &result) {
            if (result.isSuccess())
                extractor->replaceSelectedText(result.output);
        })
        .store(cancellables);

    // The floating menu.
    hotkeyListener->hotkeyPublisher()
        .filter([](TriggeredKeyboardShortcut shortcut) { return shortcut == TriggeredKeyboardShortcut::floatingMenu; })
        .sink([router](TriggeredKeyboardShortcut) { router->toggleFloatingMenuWindow(); })
        .store(cancellables);

    // Feedback for the states that need it.
    applicationStateObserver->applicationStatePublisher()
        .receiveOnMain()
        .sink([this](const ApplicationState &state) { giveFeedback(state); })
        .store(cancellables);
}

streams::AnyPublisher<Worker::RequestResult> Worker::makeRequestPublisher(const QString &text, const Prompt &prompt)
{
    auto content = contentService.get();
    return streams::deferredFuture<RequestResult>([content, text, prompt](std::function<void(const RequestResult &)> promise) {
               // Runs to its end even when nobody waits for its result any more.
               runRequest(content, text, prompt, std::move(promise));
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
    LaunchAtLogin::shared()->setEnabled(true);
    SystemSound::zorble().play();
    if (!dataStore->string(UserPreferences::kMenuBarIconStyleKey))
        dataStore->setValue(QStringLiteral("colored"), UserPreferences::kMenuBarIconStyleKey);
}
