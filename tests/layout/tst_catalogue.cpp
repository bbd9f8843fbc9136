// The four windows as they are created: every control's name, kind, text,
// place, font, colours and visibility, the tab order and the window frames.
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "layout/animatedpicture.h"
#include "mainwindow/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace archivon;

namespace {

int px(int twips)
{
    return qRound(twips / 15.0);
}

// Window, tab place (-1 none), name, kind, text (nullptr: not checked), left,
// top, width, height in twips, font ("" = the window's), other properties.
struct Cell
{
    const char* form;
    int tab;
    const char *name, *kind, *text;
    int l, t, w, h;
    const char *font, *other;
};

const char* const MSB = "MS Sans Serif 8.25 bold";
const char* const MS12B = "MS Sans Serif 12 bold";
const char* const TAH = "Tahoma 8.25";
const char* const TAHB = "Tahoma 8.25 bold";
const char* const kLabel1Avvio =
    "Qui sotto è possibile specificare il Nome Utente utilizzatore del PC oppure la locazione "
    "dello stesso per facilitare il ripristino dei dati di Backup. Quello che scrivete qui sotto "
    "farà parte del NOME della cartella di Backup che verrà creata nel disco VALSORE.    P.S: Non "
    "inserendo nulla il programma funzionerà lo stesso!";

// clang-format off
const Cell kCatalogue[] = {
    {"Form_avvio", 0, "Option1", "option", "Backup da PC a Server", 480, 360, 3495, 375, TAHB, ""},
    {"Form_avvio", 1, "Option2", "option", "Restore da Server a PC", 480, 720, 3495, 375, TAHB, ""},
    {"Form_avvio", 2, "Command1", "button", "E&sci", 1680, 3480, 1095, 255, "", ""},
    {"Form_avvio", 3, "Command2", "button", "A&vanti -->", 2760, 3480, 1215, 255, "", ""},
    {"Form_avvio", 4, "Richiesta_utente", "edit", "", 480, 3000, 3495, 375, "Tahoma 9.75 bold", "fg:blue centre"},
    {"Form_avvio", 5, "Label1", "label", kLabel1Avvio, 480, 1440, 3495, 1455, "", ""},
    {"Form_avvio", 6, "Combo1", "combo", "Sito PRIMARIO", 480, 1080, 3495, 315, TAHB, "fg:red"},
    {"Form_avvio", -1, "Shape3", "rect", nullptr, 120, 120, 4335, 3855, "", ""},
    {"Form_avvio", -1, "Shape2", "rect", nullptr, 0, 0, 4575, 4095, "", ""},
    {"Form_avvio", -1, "Shape1", "rect", nullptr, 0, 0, 4575, 4095, "", ""},
    {"Form2", 0, "Cmd_ok", "button", "OK", 1920, 3360, 1695, 375, "", ""},
    {"Form2", 1, "Drive1", "combo", nullptr, 120, 3000, 5295, 315, "", ""},
    {"Form2", 2, "Dir1", "list", nullptr, 120, 1080, 5295, 1890, "", ""},
    {"Form2", 3, "lbl_percorso", "label", ".", 120, 120, 5295, 855, "", ""},
    {"Form2", 4, "Command1", "button", "NUOVA CARTELLA", 120, 3360, 1695, 375, "", ""},
    {"Form2", 5, "Command2", "button", "ANNULLA", 3720, 3360, 1695, 375, "", ""},
    {"Form3", 0, "Label1", "auto", "ARCHIVON v1.1", 120, 120, 3090, 300, MS12B, "fg:highlight"},
    {"Form3", 1, "Label2", "auto", "un programma di Polvex", 2550, 480, 2865, 300, MS12B, "fg:highlight right"},
    {"Form3", 2, "Label5", "label", "ATTENZIONE! Per assicurarsi che il programma spenga il PC al termine, chiudere tutte le applicazioni in esecuzione!", 120, 2040, 5175, 375, "", ""},
    {"Form3", 3, "Command1", "button", "OK", 2040, 3360, 1335, 375, "", ""},
    {"Form1", 0, "Label1", "label", "Cartella da copiare", 120, 120, 6015, 255, MSB, "hidden fg:white"},
    {"Form1", 1, "Label2", "label", "Cartella destinazione", 120, 480, 6135, 255, MSB, "hidden fg:white"},
    {"Form1", 2, "Text_sorgente", "edit", "a", 2040, 120, 7695, 285, MSB, "hidden readonly"},
    {"Form1", 3, "Text_destinazione", "edit", "b", 2040, 480, 7695, 285, MSB, "hidden readonly"},
    {"Form1", 4, "Command1", "button", "...", 9960, 120, 615, 255, "", "hidden"},
    {"Form1", 5, "Command2", "button", "...", 9960, 480, 615, 255, "", "hidden"},
    {"Form1", 6, "Command3", "button", "Avvia Backup", 9960, 120, 1815, 255, MSB, ""},
    {"Form1", 7, "List_cartelle", "list", nullptr, 2760, 840, 6975, 255, "", "hidden"},
    {"Form1", 8, "LBL_trovati", "auto", "", 5040, 6240, 195, 555, "MS Sans Serif 24 bold", "hidden centre"},
    {"Form1", 9, "Lbl_visitati", "auto", "", 4425, 4920, 165, 555, "MS Sans Serif 24", "hidden centre"},
    {"Form1", 10, "ProgressBar1", "progress", nullptr, 240, 5040, 9615, 375, "", ""},
    {"Form1", 11, "Barra_totale", "progress", nullptr, 240, 5640, 9615, 375, "", ""},
    {"Form1", 12, "Label_file_in_copia", "label", "", 120, 7440, 11715, 735, TAHB, "fg:yellow bg:black centre"},
    {"Form1", 13, "Check1", "check", "Spegni il PC al termine dell'operazione", 2880, 6960, 5655, 255, MS12B, "fg:white bg:black"},
    {"Form1", 14, "Barra_file", "progress", nullptr, 240, 6240, 9615, 375, "", ""},
    {"Form1", 15, "Label3", "label", "% file corrente", 10320, 5040, 1455, 255, MS12B, "fg:white"},
    {"Form1", 16, "Label4", "auto", "% cartelle", 10320, 5640, 1200, 300, MS12B, "fg:white"},
    {"Form1", 17, "Label5", "label", "% totale", 10320, 6240, 1215, 255, MS12B, "fg:white"},
    {"Form1", 18, "Lbl_file_copiati", "auto", "", 10155, 6720, 90, 300, MS12B, "fg:white right"},
    {"Form1", 19, "Lbl_file_totali", "auto", "", 10800, 6720, 90, 300, MS12B, "fg:white"},
    {"Form1", 20, "Label6", "label", "di", 10440, 6720, 375, 315, MS12B, "fg:white"},
    {"Form1", 21, "Command4", "button", "?", 10680, 120, 735, 615, "", "hidden"},
    {"Form1", 22, "StatusBar1", "status", nullptr, 0, 8250, 11910, 420, MS12B, ""},
    {"Form1", 23, "List1", "list", nullptr, 120, 2520, 9735, 1230, "", "hidden"},
    {"Form1", 24, "Label7", "label", "Elenco cartelle ancora da copiare:", 120, 840, 2775, 255, TAH, "hidden"},
    {"Form1", 25, "TMaxAni1", "anim", nullptr, 9960, 1200, 1575, 1335, "", ""},
    {"Form1", 26, "Label8", "label", "Numero cartelle da copiare", 10080, 3120, 1215, 495, "", ""},
    {"Form1", 27, "Lbl_n_cartelle", "auto", "0", 10440, 3600, 90, 195, "", "fg:white"},
    {"Form1", 28, "Label9", "label", "Numero file da copiare", 10080, 3840, 1215, 495, "", "fg:white"},
    {"Form1", 29, "Lbl_file_da_copiare", "auto", "0", 10440, 4320, 90, 195, "", "fg:white"},
    {"Form1", 30, "Lbl_dim_file", "auto", ".", 120, 4560, 45, 195, "", "fg:white"},
    {"Form1", 31, "Lbl_dim_tot", "auto", ".", 9600, 4560, 165, 195, "", "fg:white right"},
    {"Form1", 32, "Lbl_tempo", "auto", ".", 4680, 3960, 75, 195, "", "fg:#80ffff"},
    {"Form1", 33, "Text_sorgente1", "edit", "Text1", 120, 1440, 4815, 285, TAH, ""},
    {"Form1", 37, "Text_destinazione1", "edit", "Text1", 4920, 1440, 4815, 285, TAH, "fg:blue"},
    {"Form1", 34, "Text_sorgente2", "edit", "Text1", 120, 1680, 4815, 285, TAH, ""},
    {"Form1", 38, "Text_destinazione2", "edit", "Text1", 4920, 1680, 4815, 285, TAH, "fg:blue"},
    {"Form1", 35, "Text_sorgente3", "edit", "Text1", 120, 1920, 4815, 285, TAH, ""},
    {"Form1", 39, "Text_destinazione3", "edit", "Text1", 4920, 1920, 4815, 285, TAH, "fg:blue"},
    {"Form1", 36, "Text_sorgente4", "edit", "Text1", 120, 2160, 4815, 285, TAH, ""},
    {"Form1", 40, "Text_destinazione4", "edit", "Text1", 4920, 2160, 4815, 285, TAH, "fg:blue"},
    {"Form1", 41, "NomePc", "edit", "", 120, 3840, 2055, 375, "Tahoma 9.75", "readonly"},
    {"Form1", 42, "IndirizzoIp", "edit", "", 2400, 3840, 1935, 375, "Tahoma 9.75", "readonly"},
    {"Form1", 43, "Label10", "label", "Nome del Computer", 120, 4320, 2055, 255, MSB, ""},
    {"Form1", 44, "Label11", "label", "Indirizzo IP Computer", 2400, 4320, 2055, 255, MSB, ""},
    {"Form1", 45, "Label12", "label", "Cartelle sorgenti di Backup", 120, 1200, 4815, 255, MSB, ""},
    {"Form1", 46, "Label13", "label", "Cartelle destinazione di Backup", 4920, 1200, 4815, 255, MSB, ""},
    {"Form1", 47, "Command5", "button", "Esci", 9960, 720, 1815, 255, MSB, ""},
    {"Form1", 48, "Nome_utente", "edit", "", 4800, 3840, 4095, 375, "Tahoma 9.75 bold", "fg:blue readonly"},
    {"Form1", 49, "Label14", "label", "Nome UTENTE o locazione scelto.", 4800, 4320, 3135, 255, MSB, ""},
    {"Form1", 50, "Lettera_disco", "edit", "R", 9240, 3840, 375, 375, "Tahoma 9.75 bold", "fg:blue centre readonly"},
    {"Form1", 51, "Label15", "label", "Disco", 9240, 4320, 495, 255, TAHB, ""},
    {"Form1", -1, "Shape6", "rect", nullptr, 9960, 2880, 1575, 2055, "", ""},
    {"Form1", -1, "Shape5", "rect", nullptr, 120, 4920, 11415, 615, "", ""},
    {"Form1", -1, "Shape4", "rect", nullptr, 120, 5520, 11415, 615, "", ""},
    {"Form1", -1, "Shape3", "rect", nullptr, 120, 6120, 11415, 615, "", ""},
    {"Form1", -1, "Shape2", "rect", nullptr, 9960, 4920, 1575, 1815, "", ""},
    {"Form1", -1, "Shape1", "rect", nullptr, 9480, 6720, 2055, 375, "", ""},
    {"Form1", -1, "Image1", "picture", nullptr, 0, 0, 11880, 8280, "", ""},
};
// clang-format on

const QMap<QString, const char*> kClass = {{"label", "archivon::WrappingLabel"},
                                           {"auto", "archivon::AutoSizeLabel"},
                                           {"edit", "QLineEdit"},
                                           {"button", "QPushButton"},
                                           {"check", "QCheckBox"},
                                           {"option", "QRadioButton"},
                                           {"combo", "QComboBox"},
                                           {"list", "QListWidget"},
                                           {"rect", "QFrame"},
                                           {"picture", "QLabel"},
                                           {"progress", "archivon::ProgressBar"},
                                           {"status", "archivon::StatusBar"},
                                           {"anim", "archivon::AnimatedPicture"}};
const QStringList kFocusKinds = {"edit", "button", "check", "option", "combo", "list"};

QString textOf(QWidget* w)
{
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText();
    return w->property("text").toString();
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

    QMap<QString, QWidget*> m_forms;

private slots:
    void initTestCase()
    {
        m_forms = {{"Form_avvio", new FormAvvio},
                   {"Form1", new Form1},
                   {"Form2", new Form2},
                   {"Form3", new Form3}};
        for (QWidget* f : m_forms)
            f->ensurePolished();
    }

    void cleanupTestCase() { qDeleteAll(m_forms); }

    void controls_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(kCatalogue)); ++i)
            QTest::newRow(qPrintable(QString("%1.%2").arg(kCatalogue[i].form, kCatalogue[i].name)))
                << i;
    }

    void controls()
    {
        QFETCH(int, row);
        const Cell& c = kCatalogue[row];
        const QString kind = c.kind;
        const QStringList other = QString(c.other).split(' ', Qt::SkipEmptyParts);
        QWidget* w = m_forms[c.form]->findChild<QWidget*>(c.name, Qt::FindDirectChildrenOnly);
        QVERIFY2(w && w->inherits(kClass.value(kind)),
                 w ? w->metaObject()->className() : "missing");
        if (c.text)
            QCOMPARE(textOf(w), QString::fromUtf8(c.text));

        const QRect design(px(c.l), px(c.t), px(c.w), px(c.h));
        if (kind == "auto") {
            // Sized to its text in the font at hand; the aligned edge stays where designed.
            QCOMPARE(w->size(), w->sizeHint());
            QCOMPARE(w->y(), design.y());
            if (other.contains("right"))
                QCOMPARE(w->geometry().right(), design.right());
            else if (other.contains("centre"))
                QVERIFY(qAbs(w->geometry().center().x() - design.center().x()) <= 1);
            else
                QCOMPARE(w->x(), design.x());
        } else {
            QCOMPARE(w->geometry(), design);
        }

        QStringList font = QString(*c.font ? c.font : "MS Sans Serif 8.25").split(' ');
        const bool bold = font.last() == "bold";
        if (bold)
            font.removeLast();
        QCOMPARE(w->font().pointSizeF(), font.takeLast().toDouble());
        QCOMPARE(w->font().family(), font.join(' '));
        QCOMPARE(w->font().bold(), bold);

        QCOMPARE(w->isHidden(), other.contains("hidden"));
        QCOMPARE(bool(w->focusPolicy() & Qt::TabFocus), kFocusKinds.contains(kind));
        for (const QString& o : other) {
            const QColor colour = o.endsWith("highlight")
                                      ? QApplication::palette().color(QPalette::Highlight)
                                      : QColor(o.mid(3));
            if (o.startsWith("fg:"))
                QCOMPARE(w->palette().color(w->foregroundRole()), colour);
            if (o.startsWith("bg:"))
                QCOMPARE(w->palette().color(w->backgroundRole()), colour);
        }
        const Qt::Alignment centre = other.contains("centre") ? Qt::AlignHCenter : Qt::Alignment();
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            QCOMPARE(e->isReadOnly(), other.contains("readonly"));
            QCOMPARE(e->alignment() & Qt::AlignHCenter, centre);
        }
        if (auto* l = qobject_cast<QLabel*>(w); l && kind != "picture") {
            QCOMPARE(l->wordWrap(), kind == "label"); // fixed-size labels wrap
            const Qt::Alignment expected = other.contains("right") ? Qt::AlignRight
                                           : centre                ? centre
                                                                   : Qt::AlignLeft;
            QCOMPARE(l->alignment() & Qt::AlignHorizontal_Mask, expected);
        }
    }

    void windows_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QSize>("twips");
        QTest::addColumn<bool>("frameless");
        QTest::addColumn<bool>("fixedSize");
        QTest::addColumn<bool>("icon");
        QTest::addColumn<QString>("firstFocus");
        // clang-format off
        QTest::newRow("wizard") << "Form_avvio" << "Form4" << QSize(4590, 4110) << true << true << false << "Option1";
        QTest::newRow("picker") << "Form2" << "Seleziona la cartella" << QSize(5520, 3840) << false << true << false << "Cmd_ok";
        QTest::newRow("info") << "Form3" << "Archivon.  Informazioni" << QSize(5460, 3840) << false << true << true << "Command1";
        QTest::newRow("main") << "Form1" << "QORL - Backup & Restore v. 1.0" << QSize(11910, 8670) << false << false << true << "Command3";
        // clang-format on
    }

    // The frame, and every window holding exactly its catalogued controls in
    // the catalogued tab order, none of its buttons a default button.
    void windows()
    {
        QFETCH(QString, form);
        QFETCH(QString, title);
        QFETCH(QSize, twips);
        QFETCH(bool, frameless);
        QFETCH(bool, fixedSize);
        QFETCH(bool, icon);
        QFETCH(QString, firstFocus);
        QWidget* w = m_forms[form];
        QCOMPARE(w->objectName(), form);
        QCOMPARE(w->windowTitle(), title);
        QCOMPARE(w->size(), QSize(px(twips.width()), px(twips.height())));
        QCOMPARE(bool(w->windowFlags() & Qt::FramelessWindowHint), frameless);
        QCOMPARE(w->minimumSize() == w->maximumSize(), fixedSize);
        QCOMPARE(!w->windowIcon().isNull(), icon);

        QStringList names, present;
        QMap<int, QString> tabOrder;
        for (const Cell& c : kCatalogue) {
            if (form == c.form) {
                names << c.name;
                if (kFocusKinds.contains(c.kind))
                    tabOrder[c.tab] = c.name;
            }
        }
        for (QWidget* c : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            present << c->objectName();
        names.sort();
        present.sort();
        QCOMPARE(present, names);
        QStringList chain;
        for (QWidget* c = w->nextInFocusChain(); c != w; c = c->nextInFocusChain()) {
            if (c->parentWidget() == w && tabOrder.values().contains(c->objectName()))
                chain << c->objectName();
        }
        QCOMPARE(chain, tabOrder.values());
        for (auto* b : w->findChildren<QPushButton*>())
            QVERIFY(!b->autoDefault() && !b->isDefault());

        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QCOMPARE(QApplication::focusWidget()->objectName(), firstFocus);
        w->hide();
    }

    void createdState()
    {
        auto* main = static_cast<Form1*>(m_forms["Form1"]);
        QCOMPARE(main->Timer_stima.objectName(), QString("Timer_stima"));
        QCOMPARE(main->Timer_stima.interval(), 1000);
        QVERIFY(!main->Timer_stima.isActive());
        QVERIFY(!main->findChild<QCheckBox*>("Check1")->isChecked());
        QVERIFY(!main->findChild<AnimatedPicture*>("TMaxAni1")->movie());
        QWidget* wizard = m_forms["Form_avvio"];
        QVERIFY(!wizard->findChild<QWidget*>("Option1")->property("checked").toBool());
        QVERIFY(!wizard->findChild<QWidget*>("Option2")->property("checked").toBool());
        auto* combo = wizard->findChild<QComboBox*>("Combo1");
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(1), QString("Sito SECONDARIO"));

        // The wizard's frame: blue outer line over black, white gap, grey panel in yellow.
        const QImage image = wizard->grab().toImage();
        QCOMPARE(image.pixelColor(1, 1), QColor(Qt::blue));
        QCOMPARE(image.pixelColor(302, 270), QColor(Qt::blue));
        QCOMPARE(image.pixelColor(3, 3), QApplication::palette().color(QPalette::WindowText));
        QCOMPARE(image.pixelColor(6, 6), QColor(Qt::white));
        QCOMPARE(image.pixelColor(8, 8), QColor(Qt::yellow));
        QCOMPARE(image.pixelColor(20, 20), QColor(224, 224, 224));
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
