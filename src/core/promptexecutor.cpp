#include "promptexecutor.h"

#include "hotkeylistener.h"

#include <analyticscollecting.h>

streams::AnyPublisher<Prompt> PromptExecutor::promptPublisher()
{
    auto tracker = analytics.get();
    auto menu = promptSubject.eraseToAnyPublisher()
                    .handleEvents([tracker](const Prompt &prompt) {
                        tracker->track(QStringLiteral("promptSelected"), promptSelectedProperties(prompt));
                    })
                    .delay(kMenuPromptDelay);
    auto shortcuts = hotkeyListener->hotkeyPublisher().compactMap([](TriggeredKeyboardShortcut shortcut) {
        switch (shortcut) {
        case TriggeredKeyboardShortcut::typoFix:
            return std::optional<Prompt>(Prompt::typoFix());
        case TriggeredKeyboardShortcut::rephrase:
            return std::optional<Prompt>(Prompt::rephrase());
        case TriggeredKeyboardShortcut::floatingMenu:
            break; // not a prompt: the menu opens instead
        }
        return std::optional<Prompt>();
    });
    return streams::merge(menu, shortcuts);
}

void PromptExecutor::execute(const Prompt &prompt)
{
    promptSubject.send(prompt);
}

QMap<QString, QString> PromptExecutor::promptSelectedProperties(const Prompt &prompt)
{
    switch (prompt.kind()) {
    case Prompt::Kind::rephrase:
        return {{QStringLiteral("prompt"), QStringLiteral("rephrase")},
                {QStringLiteral("customPrompt"), prompt.customPrompt().value_or(QString())}};
    case Prompt::Kind::translate:
        return {{QStringLiteral("prompt"), QStringLiteral("translate")},
                {QStringLiteral("language"), prompt.language()}};
    case Prompt::Kind::typoFix:
        break;
    }
    return {{QStringLiteral("prompt"), QStringLiteral("typoFix")}};
}
