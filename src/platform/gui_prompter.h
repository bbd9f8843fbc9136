#pragma once

#include "platform/prompter.h"

class QMessageBox;

namespace archivon::platform {

/// The program's own boxes: Qt message and input boxes with Italian buttons.
/// Every box is application-modal; questions default to Yes.
class GuiPrompter final : public Prompter
{
public:
    bool question(const QString& text, const QString& title) override;
    void message(const QString& text, BoxIcon icon, const QString& title) override;
    std::optional<QString> input(const QString& prompt, const QString& preset,
                                 const QString& title) override;
    void closeQuestion() override;

private:
    QMessageBox* m_question = nullptr; // the innermost question open
};

} // namespace archivon::platform
