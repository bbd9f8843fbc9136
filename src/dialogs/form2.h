#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class Form2;
}

namespace archivon {

/// The folder picker: walks drives and folders and hands one folder to the
/// main window.
class Form2 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form2(QWidget* parent = nullptr);
    ~Form2() override;

    Ui::Form2* ui() const { return m_ui.get(); }

    /// Receiver of the result: 1 the main window's source box, any other value
    /// its destination box.
    qint16 pulsante = 0;

    /// Full path of the folder list's current folder.
    QString dir1Path() const { return m_dir1Path; }

    void Form_Load();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::Form2> m_ui;
    QString m_dir1Path;
};

} // namespace archivon
