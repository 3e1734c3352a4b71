#include "floatingmenuviewmodel.h"

#include <approuting.h>
#include <promptexecutor.h>

FloatingMenuViewModel::FloatingMenuViewModel(QObject *parent)
    : QObject(parent),
      m_prompts{
          {QStringLiteral("Fix typo & poor grammar"), Prompt::typoFix(), false},
          {QStringLiteral("Rephrase & improve writing"), Prompt::rephrase(), true},
          {QStringLiteral("Translate to: ..."), Prompt::translate(QString()), true},
      }
{
    m_filteredPrompts = m_prompts;
    QStringList labels;
    for (const Entry &entry : m_filteredPrompts)
        labels << entry.label;
    setItems(labels);
}

void FloatingMenuViewModel::setSearchTerm(const QString &term)
{
    if (m_searchTerm != term) {
        m_searchTerm = term;
        Q_EMIT searchTermChanged();
    }
    updateFilter();
}

void FloatingMenuViewModel::setSearchIndex(int index)
{
    if (m_searchIndex == index)
        return;
    m_searchIndex = index;
    Q_EMIT searchIndexChanged();
}

void FloatingMenuViewModel::setCustomPrompt(const QString &text)
{
    if (m_customPrompt == text)
        return;
    m_customPrompt = text;
    Q_EMIT customPromptChanged();
}

void FloatingMenuViewModel::setItems(const QStringList &items)
{
    if (m_items != items) {
        m_items = items;
        Q_EMIT itemsChanged();
    }
    // A row number means nothing in another list.
    setSearchIndex(-1);
}

void FloatingMenuViewModel::setShowCustomPrompt(bool show)
{
    if (m_showCustomPrompt == show)
        return;
    m_showCustomPrompt = show;
    Q_EMIT showCustomPromptChanged();
}

void FloatingMenuViewModel::setCustomPromptPlaceholder(const QString &placeholder)
{
    if (m_customPromptPlaceholder == placeholder)
        return;
    m_customPromptPlaceholder = placeholder;
    Q_EMIT customPromptPlaceholderChanged();
}

void FloatingMenuViewModel::updateFilter()
{
    if (m_searchTerm.isEmpty()) {
        m_filteredPrompts = m_prompts;
    } else {
        // Plain lower-case containment: no locale, no trimming.
        const QString needle = m_searchTerm.toLower();
        m_filteredPrompts.clear();
        for (const Entry &entry : m_prompts) {
            if (entry.label.toLower().contains(needle))
                m_filteredPrompts << entry;
        }
    }
    QStringList labels;
    for (const Entry &entry : m_filteredPrompts)
        labels << entry.label;
    setItems(labels);
}

void FloatingMenuViewModel::moveSelectionDown()
{
    if (m_searchIndex >= m_items.size() - 1)
        return;
    setSearchIndex(m_searchIndex + 1);
}

void FloatingMenuViewModel::moveSelectionUp()
{
    if (m_searchIndex < 1)
        return;
    setSearchIndex(m_searchIndex - 1);
}

void FloatingMenuViewModel::submitSelection()
{
    if (!m_selectedPrompt) {
        if (m_searchIndex < 0 || m_searchIndex >= m_filteredPrompts.size())
            return;
        m_selectedPrompt = m_filteredPrompts.at(m_searchIndex);
    }
    // A copy: the assignments below may refilter the lists.
    const Entry entry = *m_selectedPrompt;

    if (entry.allowsCustomInput && !m_showCustomPrompt) {
        setShowCustomPrompt(true);
        setSearchTerm(entry.label);
        switch (entry.prompt.kind()) {
        case Prompt::Kind::rephrase:
            setCustomPromptPlaceholder(QStringLiteral("Additional prompt..."));
            break;
        case Prompt::Kind::translate:
            setCustomPromptPlaceholder(QStringLiteral("Language..."));
            break;
        case Prompt::Kind::typoFix:
            break;
        }
        return;
    }

    switch (entry.prompt.kind()) {
    case Prompt::Kind::typoFix:
        send(entry.prompt);
        break;
    case Prompt::Kind::translate:
        // Without a language there is nothing to translate into; the field stays open.
        if (m_customPrompt.isEmpty())
            return;
        send(Prompt::translate(m_customPrompt));
        break;
    case Prompt::Kind::rephrase:
        // An empty field still counts as an instruction the user gave.
        send(Prompt::rephrase(m_customPrompt.isNull() ? QStringLiteral("") : m_customPrompt));
        break;
    }
}

void FloatingMenuViewModel::cancelCustomPrompt()
{
    m_selectedPrompt.reset();
    setSearchTerm(QString());
    setCustomPrompt(QString());
    setShowCustomPrompt(!m_showCustomPrompt);
}

void FloatingMenuViewModel::closeMenu()
{
    appRouter->toggleFloatingMenuWindow();
}

void FloatingMenuViewModel::send(const Prompt &prompt)
{
    appRouter->toggleFloatingMenuWindow();
    promptExecutor->execute(prompt);
}
