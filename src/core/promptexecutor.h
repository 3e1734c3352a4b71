#pragma once

#include "prompt.h"

#include <resolver.h>
#include <streams.h>

#include <chrono>

class AnalyticsCollecting;
class HotkeyListening;

class PromptExecution
{
public:
    virtual ~PromptExecution() = default;
    // The one prompt stream: menu prompts merged with the two text shortcuts.
    // Every call builds a new chain.
    virtual streams::AnyPublisher<Prompt> promptPublisher() = 0;
    // Sends a prompt chosen in the floating menu.
    virtual void execute(const Prompt &prompt) = 0;
};

class PromptExecutor : public PromptExecution
{
public:
    // Menu prompts wait this long, so the menu's window is gone and the
    // previous application has the focus again before the capture.
    static constexpr std::chrono::milliseconds kMenuPromptDelay{200};

    PromptExecutor() = default;

    streams::AnyPublisher<Prompt> promptPublisher() override;
    void execute(const Prompt &prompt) override;

    // The properties of the "promptSelected" event for a prompt.
    static QMap<QString, QString> promptSelectedProperties(const Prompt &prompt);

    Injected<HotkeyListening> hotkeyListener;
    Injected<AnalyticsCollecting> analytics;
    streams::Cancellables cancellables;
    streams::PassthroughSubject<Prompt> promptSubject;
};
