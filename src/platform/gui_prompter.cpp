#include "platform/gui_prompter.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace archivon::platform {

namespace {

// Texts carry Windows line ends; a stray carriage return would show as a glyph.
QString displayText(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QMessageBox::Icon toQt(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Critical:
        return QMessageBox::Critical;
    case BoxIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

void prepare(QMessageBox& box, const QString& text, const QString& title)
{
    box.setWindowTitle(title.isEmpty() ? kAppTitle : title);
    // Folder names may hold "<" or "&"; never let them turn the text into markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(text));
    box.setWindowModality(Qt::ApplicationModal);
}

} // namespace

bool GuiPrompter::question(const QString& text, const QString& title)
{
    QMessageBox box;
    prepare(box, text, title);
    box.setIcon(QMessageBox::NoIcon);
    QPushButton* yes = box.addButton(QStringLiteral("Sì"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    QMessageBox* outer = std::exchange(m_question, &box);
    box.exec();
    m_question = outer;
    return box.clickedButton() == yes;
}

void GuiPrompter::closeQuestion()
{
    if (m_question)
        m_question->reject();
}

void GuiPrompter::message(const QString& text, BoxIcon icon, const QString& title)
{
    QMessageBox box;
    prepare(box, text, title);
    box.setIcon(toQt(icon));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

std::optional<QString> GuiPrompter::input(const QString& prompt, const QString& preset,
                                          const QString& title)
{
    QInputDialog dialog;
    dialog.setWindowTitle(title.isEmpty() ? kAppTitle : title);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(displayText(prompt));
    dialog.setTextValue(preset);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Annulla"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

} // namespace archivon::platform
