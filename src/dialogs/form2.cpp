#include "dialogs/form2.h"

#include "app/forms.h"
#include "layout/windowstyle.h"
#include "mainwindow/form1.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/prompter.h"
#include "ui_Form1.h"
#include "ui_Form2.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

namespace archivon {

namespace {

enum EntryRole {
    PathRole = Qt::UserRole,
    LevelRole,
    SubfolderRole,
};

// Each level of the folder list sits this many pixels further in.
constexpr int kIndentStep = 12;

// Draws an entry of the folder list indented by its level, highlight and
// all, as the classic folder list does.
class IndentDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        QStyleOptionViewItem indented(option);
        indented.rect.setLeft(option.rect.left() + indent(index));
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(index), 0);
    }

private:
    static int indent(const QModelIndex& index)
    {
        return index.data(LevelRole).toInt() * kIndentStep;
    }
};

bool lessIgnoringCase(const QString& a, const QString& b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    // Names that differ only in case (the host tells them apart) keep a fixed order.
    return c != 0 ? c < 0 : a < b;
}

// Windows refuses these in a folder name. "\" and "/" would reach into
// other folders, "." and ".." name folders that exist already.
bool allowedFolderName(const QString& name)
{
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    static const QString forbidden = QStringLiteral("<>:\"/\\|?*");
    return std::none_of(name.cbegin(), name.cend(),
                        [](QChar c) { return c.unicode() < 0x20 || forbidden.contains(c); });
}

QChar driveOf(const QString& path)
{
    const auto resolved = platform::resolve(path);
    return resolved ? resolved->drive : QChar();
}

// The folder a drive opens on: the program's current folder when it lies on
// that drive, the drive's root otherwise.
QString openingFolder(QChar drive)
{
    const QString current = platform::currentFolder();
    if (driveOf(current) == drive)
        return current;
    return QString(drive) + QStringLiteral(":\\");
}

bool isFolder(const QString& path)
{
    const auto attrs = platform::attributes(path);
    return attrs && (*attrs & platform::Directory);
}

} // namespace

// ---------------------------------------------------------------------------

DriveList::DriveList(QWidget* parent) : QComboBox(parent)
{
    refresh();
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::changed);
}

QChar DriveList::drive() const
{
    const QString letter = currentData().toString();
    return letter.isEmpty() ? QChar() : letter.at(0);
}

bool DriveList::setDrive(QChar letter)
{
    const QString key(letter.toUpper());
    int row = findData(key);
    if (row < 0) {
        refresh();
        row = findData(key);
    }
    if (row < 0)
        return false;
    setCurrentIndex(row);
    return true;
}

void DriveList::refresh()
{
    const QSignalBlocker quiet(this);
    const QChar chosen = drive();
    clear();
    // Drive letters only: the folders behind them belong to the platform layer.
    for (const QChar letter : platform::readyDrives())
        addItem(QStringLiteral("%1:").arg(letter.toLower()), QString(letter));
    setCurrentIndex(chosen.isNull() ? -1 : findData(QString(chosen)));
}

void DriveList::showPopup()
{
    refresh();
    QComboBox::showPopup();
}

// ---------------------------------------------------------------------------

FolderList::FolderList(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new IndentDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    // Not activated(): some styles activate on a single click, which here
    // must only highlight.
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { static_cast<void>(openEntry(row(item))); });
}

Status FolderList::setPath(const QString& path)
{
    const auto resolved = platform::resolve(path);
    if (!resolved)
        return Status::failure(QStringLiteral("percorso non valido: ") + path);
    const QString folder = resolved->toString();
    const auto attrs = platform::attributes(folder);
    if (!attrs)
        return attrs.status();
    if (!(*attrs & platform::Directory))
        return Status::failure(folder + QStringLiteral(" non è una cartella"));
    if (Status filled = fill(folder); !filled)
        return filled;
    const bool moved = folder != m_path;
    m_path = folder;
    if (moved)
        emit changed();
    return {};
}

Status FolderList::refresh()
{
    if (m_path.isEmpty())
        return Status::failure(QStringLiteral("nessuna cartella"));
    return fill(m_path);
}

QString FolderList::entryPath(int row) const
{
    const QListWidgetItem* entry = item(row);
    return entry ? entry->data(PathRole).toString() : QString();
}

bool FolderList::isSubfolderEntry(int row) const
{
    const QListWidgetItem* entry = item(row);
    return entry && entry->data(SubfolderRole).toBool();
}

Status FolderList::openEntry(int row)
{
    if (!item(row))
        return Status::failure(QStringLiteral("nessuna voce"));
    const Status opened = setPath(entryPath(row));
    // A folder gone since the list was read drops out of it.
    if (!opened)
        static_cast<void>(refresh());
    return opened;
}

void FolderList::keyPressEvent(QKeyEvent* event)
{
    if (event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        static_cast<void>(openEntry(currentRow()));
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

Status FolderList::fill(const QString& folder)
{
    const auto resolved = platform::resolve(folder);
    if (!resolved)
        return Status::failure(QStringLiteral("percorso non valido: ") + folder);

    // Mask 16 keeps hidden and system entries out but lets plain files in:
    // the attributes tell the folders apart.
    platform::DirSearch search(platform::joinPath(folder, QString()), platform::Directory);
    if (!search.ok())
        return search.status();
    QStringList subfolders;
    for (QString name = search.next(); !name.isEmpty(); name = search.next()) {
        if (isFolder(platform::joinPath(folder, name)))
            subfolders << name;
    }
    std::sort(subfolders.begin(), subfolders.end(), lessIgnoringCase);

    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const auto add = [this](const QString& text, const QString& path, int level, const QIcon& icon,
                            bool subfolder) {
        auto* entry = new QListWidgetItem(icon, text, this);
        entry->setData(PathRole, path);
        entry->setData(LevelRole, level);
        entry->setData(SubfolderRole, subfolder);
    };

    clear();
    platform::DrivePath level{resolved->drive, {}};
    add(QString(resolved->drive.toLower()) + QStringLiteral(":\\"), level.toString(), 0, open,
        false);
    for (const QString& component : resolved->components) {
        level.components << component;
        add(component, level.toString(), int(level.components.size()), open, false);
    }
    const int current = count() - 1;
    const int depth = int(resolved->components.size()) + 1;
    for (const QString& name : std::as_const(subfolders))
        add(name, platform::joinPath(folder, name), depth, closed, true);

    setCurrentRow(current);
    // The current folder at the top, so that its subfolders show below it.
    scrollToItem(item(current), QAbstractItemView::PositionAtTop);
    return {};
}

// ---------------------------------------------------------------------------

Form2::Form2(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::Form2>())
{
    setUpWindow(this, *m_ui);

    // The lists open on the process's current folder and its drive.
    if (!m_ui->Dir1->setPath(platform::currentFolder()))
        static_cast<void>(m_ui->Dir1->setPath(platform::programFolder()));
    m_ui->Drive1->setDrive(driveOf(m_ui->Dir1->path()));

    connect(m_ui->Dir1, &FolderList::changed, this, &Form2::Dir1_Change);
    connect(m_ui->Drive1, &DriveList::changed, this, &Form2::Drive1_Change);
    connect(m_ui->Cmd_ok, &QPushButton::clicked, this, &Form2::Cmd_ok_Click);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(m_ui->Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
}

Form2::~Form2() = default;

void Form2::Form_Load()
{
    m_ui->lbl_percorso->setText(m_ui->Dir1->path());
}

void Form2::Dir1_Change()
{
    m_ui->lbl_percorso->setText(m_ui->Dir1->path());
    if (!isFolder(m_ui->Dir1->path())) {
        // The folder went away under the list: back to the program folder.
        static_cast<void>(m_ui->Dir1->setPath(platform::programFolder()));
        m_ui->lbl_percorso->setText(m_ui->Dir1->path());
    }
    // The drive list shows the drive of the folder on view. It follows
    // quietly: choosing a drive would move the folder list again.
    const QSignalBlocker quiet(m_ui->Drive1);
    m_ui->Drive1->setDrive(driveOf(m_ui->Dir1->path()));
}

void Form2::Drive1_Change()
{
    const QChar chosen = m_ui->Drive1->drive();
    if (!chosen.isNull() && m_ui->Dir1->setPath(openingFolder(chosen)))
        return;
    // A drive that cannot be read: back to the program's drive, without a word.
    const QChar home = driveOf(platform::programFolder());
    if (!home.isNull() && home != chosen && m_ui->Drive1->setDrive(home))
        return;
    const QSignalBlocker quiet(m_ui->Drive1);
    m_ui->Drive1->setDrive(driveOf(m_ui->Dir1->path()));
}

void Form2::Cmd_ok_Click()
{
    // The result is the folder on view, never an entry that is only highlighted.
    if (Forms::isLoaded(QStringLiteral("Form1"))) {
        Ui::Form1* main = Forms::form1()->ui();
        QLineEdit* receiver = pulsante == 1 ? main->Text_sorgente : main->Text_destinazione;
        receiver->setText(m_ui->lbl_percorso->text());
    }
    Forms::unload(this);
}

void Form2::Command1_Click()
{
    const QPointer<Form2> self(this);
    const auto answer =
        platform::prompter().input(QStringLiteral("Inserisci il nome della nuova cartella"),
                                   QStringLiteral("Nuova Cartella"), platform::kAppTitle);
    // The program may have ended, or the picker closed, while the box was open.
    if (!self || Forms::ending() || !answer || answer->isEmpty())
        return;
    const bool made = allowedFolderName(*answer) &&
                      platform::makeFolder(platform::joinPath(m_ui->Dir1->path(), *answer)) &&
                      m_ui->Dir1->refresh();
    if (!made)
        platform::inform(QStringLiteral("Impossibile creare la cartella!"),
                         platform::BoxIcon::Critical);
}

void Form2::Command2_Click()
{
    Forms::unload(this);
}

void Form2::closeEvent(QCloseEvent* event)
{
    Forms::forget(this);
    event->accept();
}

} // namespace archivon
