#pragma once

#include <prompt.h>
#include <resolver.h>

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <optional>

class AppRouting;
class PromptExecution;

// State and logic of the floating prompt menu: the built-in prompts, the
// search over their labels, the highlighted row and the second step that
// asks for an instruction or a target language. The view forwards every key,
// hover and click here and only binds to the properties.
class FloatingMenuViewModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QStringList items READ items NOTIFY itemsChanged)
    Q_PROPERTY(QString searchTerm READ searchTerm WRITE setSearchTerm NOTIFY searchTermChanged)
    Q_PROPERTY(int searchIndex READ searchIndex WRITE setSearchIndex NOTIFY searchIndexChanged)
    Q_PROPERTY(QString customPrompt READ customPrompt WRITE setCustomPrompt NOTIFY customPromptChanged)
    Q_PROPERTY(bool showCustomPrompt READ showCustomPrompt NOTIFY showCustomPromptChanged)
    Q_PROPERTY(QString customPromptPlaceholder READ customPromptPlaceholder NOTIFY customPromptPlaceholderChanged)

public:
    struct Entry
    {
        QString label;
        Prompt prompt;
        bool allowsCustomInput = false;
    };

    // Resolves its services from the main container, so QML can make one.
    explicit FloatingMenuViewModel(QObject *parent = nullptr);

    const QList<Entry> &prompts() const { return m_prompts; }
    const QList<Entry> &filteredPrompts() const { return m_filteredPrompts; }
    const std::optional<Entry> &selectedPrompt() const { return m_selectedPrompt; }

    QStringList items() const { return m_items; }
    QString searchTerm() const { return m_searchTerm; }
    // Every assignment filters again, even with the same text.
    void setSearchTerm(const QString &term);
    int searchIndex() const { return m_searchIndex; }
    void setSearchIndex(int index);
    QString customPrompt() const { return m_customPrompt; }
    void setCustomPrompt(const QString &text);
    bool showCustomPrompt() const { return m_showCustomPrompt; }
    QString customPromptPlaceholder() const { return m_customPromptPlaceholder; }

    Q_INVOKABLE void moveSelectionDown();
    Q_INVOKABLE void moveSelectionUp();
    Q_INVOKABLE void submitSelection();
    Q_INVOKABLE void cancelCustomPrompt();
    Q_INVOKABLE void updateFilter();
    // Closes the menu without choosing anything (Escape outside the second step).
    Q_INVOKABLE void closeMenu();

Q_SIGNALS:
    void itemsChanged();
    void searchTermChanged();
    void searchIndexChanged();
    void customPromptChanged();
    void showCustomPromptChanged();
    void customPromptPlaceholderChanged();

private:
    void setItems(const QStringList &items);
    void setShowCustomPrompt(bool show);
    void setCustomPromptPlaceholder(const QString &placeholder);
    // Closes the menu first, so the focus is back where the text is before the prompt runs.
    void send(const Prompt &prompt);

    // Declared in the order they are set up: the state first, then the services.
    const QList<Entry> m_prompts;
    QList<Entry> m_filteredPrompts;
    QStringList m_items;
    QString m_searchTerm;
    int m_searchIndex = -1;
    QString m_customPrompt;
    bool m_showCustomPrompt = false;
    QString m_customPromptPlaceholder;
    std::optional<Entry> m_selectedPrompt;

public:
    Injected<PromptExecution> promptExecutor;
    Injected<AppRouting> appRouter;
};
