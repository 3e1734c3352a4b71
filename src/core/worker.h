#pragma once

#include "applicationstateobserver.h"
#include "prompt.h"

#include <corvane.h>
#include <resolver.h>
#include <streams.h>

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

class AccessibilityHandling;
class AppRouting;
class ContentServing;
class DataStoring;
class HotkeyListening;
class PromptExecution;
class TextExtraction;

// Runs a text action from the shortcut to the replaced text: the signed-in
// gate, the capture, the content request, the state, the write-back and the
// feedback. Also opens the floating menu and counts the actions.
class Worker
{
public:
    // What one content request came back with.
    struct RequestResult
    {
        static RequestResult success(QString output) { return {std::move(output), std::nullopt}; }
        static RequestResult failure(corvane::CorvaneError error) { return {{}, std::move(error)}; }
        bool isSuccess() const { return !error; }

        QString output;
        std::optional<corvane::CorvaneError> error;
    };

    static constexpr std::chrono::milliseconds kToastDuration{3000};
    static constexpr std::chrono::milliseconds kHintDuration{5000};
    static constexpr std::chrono::milliseconds kHintDemoDelay{3000};

    Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    void bind();
    // Nothing happens until subscribed; then one request for the prompt, one
    // result, never a failure of the stream itself.
    streams::AnyPublisher<RequestResult> makeRequestPublisher(const QString &text, const Prompt &prompt);
    void applyStartupDefaults();
    void countUsage();

    Injected<HotkeyListening> hotkeyListener;
    Injected<PromptExecution> promptExecutor;
    Injected<ContentServing> contentService;
    Injected<ApplicationStateObserver> applicationStateObserver;
    Injected<AccessibilityHandling> accessibilityHandler;
    Injected<TextExtraction> textExtractor;
    Injected<DataStoring> dataStore;
    Injected<AppRouting> appRouter;
    Injected<corvane::TokenStoring> tokenStorage;
    const QStringList progressTrainingUsageIntervals{QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("6"),
                                                     QStringLiteral("14"), QStringLiteral("24")};
    streams::Cancellables cancellables;

    // The toast shown when the answer came after the user left the window
    // the text was taken from.
    static const QString kNotWrittenBackMessage;

private:
    // What waits while a capture or a write-back runs.
    struct Waiting
    {
        enum class Kind { prompt, menuToggle } kind;
        Prompt prompt;
        bool signedIn = false;
    };

    void receivePrompt(const Prompt &prompt);
    void receiveSignedIn(bool signedIn);
    void enqueue(Waiting item);
    void runWaiting();
    void runPrompt(const Prompt &prompt, bool signedIn);
    // Sets the busy flag until the returned guard goes.
    auto markBusy();
    bool abandonRequest();
    void receiveResult(const RequestResult &result);
    void handleResult(const RequestResult &result);
    void giveFeedback(const ApplicationState &state);

    // True inside a capture or a write-back: their keystroke pauses run the
    // event loop, and nothing else may touch the clipboard or the keyboard
    // until they end.
    bool m_busy = false;
    std::optional<bool> m_signedIn;
    std::optional<Prompt> m_beforeFirstFlag;
    // The action last refused for want of a session, and the window it was
    // pressed in: a sign-in runs it once, if that window is still in front.
    struct Refused
    {
        Prompt prompt;
        quint32 window;
    };
    std::optional<Refused> m_refused;
    std::deque<Waiting> m_waiting;
    // The one request whose answer is still wanted; resetting it abandons
    // (and cancels) the request.
    streams::AnyCancellable m_request;
};
