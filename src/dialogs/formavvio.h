#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Form_avvio;
}

namespace archivon {

/// The start wizard: direction of the operation, user name or location, and a
/// site choice that only shows a notice. Forward hands over to the main window
/// (backup) or to the information box (restore) and closes the wizard.
class FormAvvio final : public QWidget
{
    Q_OBJECT

public:
    explicit FormAvvio(QWidget* parent = nullptr);
    ~FormAvvio() override;

    Ui::Form_avvio* ui() const { return m_ui.get(); }

    void Form_Load();
    void Combo1_GotFocus();
    void Combo1_Click();
    void Command2_Click();
    void Command1_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void showSiteNotice();

    std::unique_ptr<Ui::Form_avvio> m_ui;
    bool m_noticeOpen = false;
};

} // namespace archivon
