#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Form3;
}

namespace archivon {

/// The information box: program, author, and the warning that the shutdown at
/// the end of a backup needs every other application closed.
class Form3 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form3(QWidget* parent = nullptr);
    ~Form3() override;

    Ui::Form3* ui() const { return m_ui.get(); }

    void Form_Load() {}
    void Command1_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::Form3> m_ui;
};

} // namespace archivon
