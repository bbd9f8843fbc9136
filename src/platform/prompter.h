#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

// Modal message and input boxes behind a seam: Qt's boxes with Italian buttons
// in the program, scripted answers in tests.
namespace archivon::platform {

enum class BoxIcon { None, Information, Critical };

/// Title used by a box that names none of its own.
inline const QString kAppTitle = QStringLiteral("Archivon");

class Prompter
{
public:
    virtual ~Prompter() = default;
    /// Yes/No question, no icon; true for Yes.
    virtual bool question(const QString& text, const QString& title) = 0;
    /// A message with a single OK button.
    virtual void message(const QString& text, BoxIcon icon, const QString& title) = 0;
    /// Input box with OK/Annulla; nothing when cancelled.
    virtual std::optional<QString> input(const QString& prompt, const QString& preset,
                                         const QString& title) = 0;
    /// Closes the question open now, if any, as answered No: what it asked
    /// about has ended meanwhile.
    virtual void closeQuestion() {}
};

Prompter& prompter();
/// Installs a prompter (not owned); nullptr restores the one set by the program.
void setPrompter(Prompter* p);
/// The program's own boxes, installed once at start by the GUI.
void setDefaultPrompter(Prompter* p);

inline bool ask(const QString& text, const QString& title = kAppTitle)
{
    return prompter().question(text, title);
}
inline void inform(const QString& text, BoxIcon icon = BoxIcon::Information,
                   const QString& title = kAppTitle)
{
    prompter().message(text, icon, title);
}

/// Answers boxes from a script and records every box shown. A box that finds
/// no scripted answer is recorded as unexpected and answered No / cancelled.
class ScriptedPrompter final : public Prompter
{
public:
    struct Shown
    {
        QString kind; // "question", "message", "input"
        QString text;
        QString title;
        BoxIcon icon = BoxIcon::None;
    };

    void answerYes() { m_answers.push_back(QStringLiteral("yes")); }
    void answerNo() { m_answers.push_back(QStringLiteral("no")); }
    void answerInput(const QString& text) { m_answers.push_back(QStringLiteral("=") + text); }
    void answerCancel() { m_answers.push_back(QStringLiteral("cancel")); }
    /// Runs while the next box is "open", as code the user triggers meanwhile.
    void whileOpen(std::function<void()> action) { m_whileOpen = std::move(action); }

    bool question(const QString& text, const QString& title) override;
    void message(const QString& text, BoxIcon icon, const QString& title) override;
    std::optional<QString> input(const QString& prompt, const QString& preset,
                                 const QString& title) override;
    /// Only counted: the scripted answer stands, as a click made just before.
    void closeQuestion() override { ++closedQuestions; }

    QList<Shown> shown;
    int unexpected = 0;
    int closedQuestions = 0;
    /// Texts of every box shown, in order.
    QStringList texts() const;

private:
    std::optional<QString> take();
    void runWhileOpen();
    std::deque<QString> m_answers;
    std::function<void()> m_whileOpen;
};

} // namespace archivon::platform
