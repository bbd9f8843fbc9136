#pragma once

#include "platform/result.h"

#include <QComboBox>
#include <QListWidget>
#include <QWidget>

#include <memory>

namespace Ui {
class Form2;
}

namespace archivon {

/// The picker's drive list: the mapped drives that are ready, each shown as
/// its lower-case letter and colon followed by the folder that stands for
/// the drive, "c: [/home/anna]", as a classic drive list shows a network
/// drive beside its share.
class DriveList final : public QComboBox
{
    Q_OBJECT

public:
    explicit DriveList(QWidget* parent = nullptr);

    /// Letter of the chosen drive, upper case; nothing chosen gives a null QChar.
    QChar drive() const;
    /// Chooses a drive, reading the list again if the drive is not in it;
    /// false when the drive is not ready. Raises changed() when the choice
    /// changes, as the user choosing it would.
    bool setDrive(QChar letter);
    /// Reads the ready drives again, keeping the choice without raising changed().
    void refresh();

signals:
    void changed();

protected:
    // Drives come and go (a share is mounted, a medium taken out): the list
    // is read again each time it opens.
    void showPopup() override;
};

/// The picker's folder list: the folders from the drive root down to the
/// current folder, each one level further in, then the current folder's
/// subfolders (hidden and system ones left out), sorted without regard to
/// case. A single click only highlights an entry; opening it (double click,
/// Enter) makes its folder the current one.
class FolderList final : public QListWidget
{
    Q_OBJECT

public:
    explicit FolderList(QWidget* parent = nullptr);

    /// Full path of the current folder, "C:\" for a root; empty until a
    /// path has been set.
    QString path() const { return m_path; }
    /// Moves to a folder, absolute or relative to the program's current
    /// folder. Fails, and the list stays as it was, when the folder does not
    /// exist or its drive is not ready. Raises changed() when the path changes.
    Status setPath(const QString& path);
    /// Reads the current folder's subfolders again.
    Status refresh();

    /// Full path of the folder an entry stands for.
    QString entryPath(int row) const;
    /// Entries that are subfolders of the current folder, not the path above it.
    bool isSubfolderEntry(int row) const;
    /// What opening an entry does: its folder becomes the path.
    Status openEntry(int row);

signals:
    void changed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Status fill(const QString& folder);

    QString m_path;
};

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

    void Form_Load();
    void Dir1_Change();
    void Drive1_Change();
    void Cmd_ok_Click();
    void Command1_Click();
    void Command2_Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::Form2> m_ui;
};

} // namespace archivon
