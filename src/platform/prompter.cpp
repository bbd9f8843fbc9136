#include "platform/prompter.h"

namespace archivon::platform {

namespace {

Prompter* g_prompter = nullptr;
Prompter* g_default = nullptr;

// Without a window system there is nobody to ask: every question is No.
class SilentPrompter final : public Prompter
{
public:
    bool question(const QString&, const QString&) override { return false; }
    void message(const QString&, BoxIcon, const QString&) override {}
    std::optional<QString> input(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
};

} // namespace

Prompter& prompter()
{
    static SilentPrompter silent;
    if (g_prompter)
        return *g_prompter;
    return g_default ? *g_default : silent;
}

void setPrompter(Prompter* p) { g_prompter = p; }

void setDefaultPrompter(Prompter* p) { g_default = p; }

std::optional<QString> ScriptedPrompter::take()
{
    if (m_answers.empty()) {
        ++unexpected;
        return std::nullopt;
    }
    QString a = m_answers.front();
    m_answers.pop_front();
    return a;
}

void ScriptedPrompter::runWhileOpen()
{
    if (auto action = std::exchange(m_whileOpen, nullptr))
        action();
}

bool ScriptedPrompter::question(const QString& text, const QString& title)
{
    shown.append({QStringLiteral("question"), text, title, BoxIcon::None});
    runWhileOpen();
    return take() == QStringLiteral("yes");
}

void ScriptedPrompter::message(const QString& text, BoxIcon icon, const QString& title)
{
    shown.append({QStringLiteral("message"), text, title, icon});
    runWhileOpen();
}

std::optional<QString> ScriptedPrompter::input(const QString& prompt, const QString&,
                                               const QString& title)
{
    shown.append({QStringLiteral("input"), prompt, title, BoxIcon::None});
    runWhileOpen();
    const auto a = take();
    if (!a || !a->startsWith(QLatin1Char('=')))
        return std::nullopt;
    return a->mid(1);
}

QStringList ScriptedPrompter::texts() const
{
    QStringList list;
    for (const Shown& s : shown)
        list << s.text;
    return list;
}

} // namespace archivon::platform
