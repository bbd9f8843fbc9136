// The four windows as created: controls' kind, text, place, visibility, tab order; frames.
#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "layout/autosizelabel.h"
#include "mainwindow/form1.h"
#include "support/windowfixture.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QStyleOptionButton>
#include <QtTest>

#include <algorithm>

using namespace archivon;

namespace {

const auto px = [](int twips) { return qRound(twips / 15.0); };

// clang-format off
const char *const L = "archivon::WrappingLabel", *const A = "archivon::AutoSizeLabel", *const E = "QLineEdit",
    *const B = "QPushButton", *const C = "QCheckBox", *const O = "QRadioButton", *const K = "QComboBox",
    *const T = "QListWidget", *const R = "QFrame", *const P = "QLabel", *const G = "archivon::ProgressBar",
    *const S = "archivon::StatusBar", *const M = "archivon::AnimatedPicture", *const H = "hidden";
// Place in twips; text nullptr: not checked; flags: hidden, readOnly, editable, and the
// edge a self-sizing label (A) keeps: left unless right or centre.
struct Cell { const char *name, *kind; int l, t, w, h; const char *text = nullptr, *flags = ""; };
struct Frame { const char *form, *title; int w, h; bool frameless, fixedSize, icon; const char* focus;
               QList<Cell> cells; };
// Each window and its controls: the focusable ones in tab order, the others anywhere.
const Frame kFrames[] = {
{"Form_avvio", "Form4", 4590, 4110, true, true, false, "Option1", {
    {"Option1", O, 480, 360, 3495, 375, "Backup da PC a Server"}, {"Shape2", R, 0, 0, 4575, 4095},
    {"Option2", O, 480, 720, 3495, 375, "Restore da Server a PC"}, {"Shape1", R, 0, 0, 4575, 4095},
    {"Command1", B, 1680, 3480, 1095, 255, "E&sci"}, {"Shape3", R, 120, 120, 4335, 3855},
    {"Command2", B, 2760, 3480, 1215, 255, "A&vanti -->"},
    {"Richiesta_utente", E, 480, 3000, 3495, 375, ""},
    {"Combo1", K, 480, 1080, 3495, 315, "Sito PRIMARIO", "editable"},
    {"Label1", L, 480, 1440, 3495, 1455, "Qui sotto è possibile specificare il Nome Utente "
     "utilizzatore del PC oppure la locazione dello stesso per facilitare il ripristino dei dati di "
     "Backup. Quello che scrivete qui sotto farà parte del NOME della cartella di Backup che verrà "
     "creata nel disco VALSORE.    P.S: Non inserendo nulla il programma funzionerà lo stesso!"}}},
{"Form2", "Seleziona la cartella", 5520, 3840, false, true, false, "Cmd_ok", {
    {"Cmd_ok", B, 1920, 3360, 1695, 375, "OK"}, {"Drive1", K, 120, 3000, 5295, 315},
    {"Dir1", T, 120, 1080, 5295, 1890}, {"Command1", B, 120, 3360, 1695, 375, "NUOVA CARTELLA"},
    {"Command2", B, 3720, 3360, 1695, 375, "ANNULLA"},
    {"lbl_percorso", L, 120, 120, 5295, 855, "."}}},
{"Form3", "Archivon.  Informazioni", 5460, 3840, false, true, true, "Command1", {
    {"Command1", B, 2040, 3360, 1335, 375, "OK"},
    {"Label2", A, 2550, 480, 2865, 300, "un programma di Polvex", "right"},
    {"Label1", A, 120, 120, 3090, 300, "ARCHIVON v1.1"},
    {"Label5", L, 120, 2040, 5175, 375, "ATTENZIONE! Per assicurarsi che il programma "
     "spenga il PC al termine, chiudere tutte le applicazioni in esecuzione!"}}},
{"Form1", "QORL - Backup & Restore v. 1.0", 11910, 8670, false, false, true, "Command3", {
    {"Text_sorgente", E, 2040, 120, 7695, 285, "a", "hidden readOnly"},
    {"Text_destinazione", E, 2040, 480, 7695, 285, "b", "hidden readOnly"},
    {"Command1", B, 9960, 120, 615, 255, "...", H}, {"Command2", B, 9960, 480, 615, 255, "...", H},
    {"Command3", B, 9960, 120, 1815, 255, "Avvia Backup"}, {"TMaxAni1", M, 9960, 1200, 1575, 1335},
    {"List_cartelle", T, 2760, 840, 6975, 255, nullptr, H}, {"Barra_file", G, 240, 6240, 9615, 375},
    {"Check1", C, 2880, 6960, 5655, 255, "Spegni il PC al termine dell'operazione"},
    {"Command4", B, 10680, 120, 735, 615, "?", H}, {"List1", T, 120, 2520, 9735, 1230, nullptr, H},
    {"Text_sorgente1", E, 120, 1440, 4815, 285}, {"Text_sorgente2", E, 120, 1680, 4815, 285},
    {"Text_sorgente3", E, 120, 1920, 4815, 285}, {"Text_sorgente4", E, 120, 2160, 4815, 285},
    {"Text_destinazione1", E, 4920, 1440, 4815, 285}, {"Label15", L, 9240, 4320, 495, 255, "Disco"},
    {"Text_destinazione2", E, 4920, 1680, 4815, 285}, {"Lbl_dim_file", A, 120, 4560, 45, 195, "."},
    {"Text_destinazione3", E, 4920, 1920, 4815, 285}, {"Label6", L, 10440, 6720, 375, 315, "di"},
    {"Text_destinazione4", E, 4920, 2160, 4815, 285}, {"Lbl_tempo", A, 120, 6750, 75, 195, "."},
    {"NomePc", E, 120, 3840, 2055, 375, "", "readOnly"}, {"ProgressBar1", G, 240, 5040, 9615, 375},
    {"IndirizzoIp", E, 2400, 3840, 1935, 375, "", "readOnly"}, {"Shape5", R, 120, 4920, 11415, 615},
    {"Command5", B, 9960, 720, 1815, 255, "Esci"}, {"Lbl_file_totali", A, 10800, 6720, 90, 300, ""},
    {"Nome_utente", E, 4800, 3840, 4095, 375, "", "readOnly"}, {"Shape4", R, 120, 5520, 11415, 615},
    {"Lettera_disco", E, 9240, 3840, 375, 375, "R", "readOnly"}, {"Image1", P, 0, 0, 11880, 8280},
    {"Label7", L, 120, 840, 2775, 255, "Elenco cartelle ancora da copiare:", H},
    {"Label13", L, 4920, 1200, 4815, 255, "Cartelle destinazione di Backup"},
    {"Label14", L, 4800, 4320, 3135, 255, "Nome UTENTE o locazione scelto."},
    {"Label8", L, 10080, 3120, 1215, 495, "Numero cartelle da copiare"},
    {"Label12", L, 120, 1200, 4815, 255, "Cartelle sorgenti di Backup"},
    {"Label9", L, 10080, 3840, 1215, 495, "Numero file da copiare"},
    {"Label2", L, 120, 480, 6135, 255, "Cartella destinazione", H},
    {"Lbl_visitati", A, 4425, 4920, 165, 555, "", "hidden centre"},
    {"Label11", L, 2400, 4320, 2055, 255, "Indirizzo IP Computer"},
    {"LBL_trovati", A, 5040, 6240, 195, 555, "", "hidden centre"},
    {"Label1", L, 120, 120, 6015, 255, "Cartella da copiare", H},
    {"Lbl_file_copiati", A, 10155, 6720, 90, 300, "", "right"},
    {"Label10", L, 120, 4320, 2055, 255, "Nome del Computer"}, {"Shape3", R, 120, 6120, 11415, 615},
    {"Label3", L, 10320, 5040, 1455, 255, "% file corrente"}, {"Shape6", R, 9960, 2880, 1575, 2055},
    {"Lbl_dim_tot", A, 9600, 4560, 165, 195, ".", "right"}, {"StatusBar1", S, 0, 8250, 11910, 420},
    {"Label_file_in_copia", L, 120, 7440, 11715, 735, ""}, {"Shape2", R, 9960, 4920, 1575, 1815},
    {"Lbl_file_da_copiare", A, 10440, 4320, 90, 195, "0"}, {"Shape1", R, 9480, 6720, 2055, 375},
    {"Label4", A, 10320, 5640, 1200, 300, "% cartelle"}, {"Barra_totale", G, 240, 5640, 9615, 375},
    {"Label5", L, 10320, 6240, 1215, 255, "% totale"},
    {"Lbl_n_cartelle", A, 10440, 3600, 90, 195, "0"}}}};
const auto focusable = [](const char* kind) { return QList<const char*>{E, B, C, O, K, T}.contains(kind); };
// clang-format on

// The contrast ratio of two colours as WCAG defines it, 1 to 21.
double contrast(QColor a, QColor b)
{
    const auto luminance = [](QColor c) {
        const auto lin = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

class TestCatalogue : public QObject, test::WindowFixture
{
    Q_OBJECT

    // Built on the fixture's empty drives, with its boxes.
    std::unique_ptr<QWidget> m_forms[4] = {std::make_unique<FormAvvio>(), std::make_unique<Form2>(),
                                           std::make_unique<Form3>(), std::make_unique<Form1>()};

private slots:
    void controls_data()
    {
        QTest::addColumn<int>("form");
        QTest::addColumn<int>("row");
        for (int f = 0; f < 4; ++f) {
            for (int i = 0; i < kFrames[f].cells.size(); ++i)
                QTest::addRow("%s.%s", kFrames[f].form, kFrames[f].cells.at(i).name) << f << i;
        }
    }
    void controls()
    {
        QFETCH(int, form);
        QFETCH(int, row);
        const Cell& c = kFrames[form].cells.at(row);
        const QString flags = c.flags;
        QWidget* w = m_forms[form]->findChild<QWidget*>(c.name, Qt::FindDirectChildrenOnly);
        QVERIFY2(w && w->inherits(c.kind), w ? w->metaObject()->className() : "");
        if (c.text)
            QCOMPARE(w->property(c.kind == K ? "currentText" : "text").toString(), c.text);
        const QRect design(px(c.l), px(c.t), px(c.w), px(c.h)), g = w->geometry();
        if (c.kind == A) { // sized to its text in the font at hand, one edge in place
            QVERIFY(g.size() == w->sizeHint() && g.y() == design.y());
            QVERIFY(flags.contains("right")    ? g.right() == design.right()
                    : flags.contains("centre") ? qAbs(g.center().x() - design.center().x()) <= 1
                                               : g.x() == design.x());
        } else {
            QCOMPARE(g, design);
        }
        QCOMPARE(w->isHidden(), flags.contains("hidden"));
        for (const char* flag : {"readOnly", "checked", "editable"}) // all false but as listed
            QCOMPARE(w->property(flag).toBool(), flags.contains(flag));
        QCOMPARE(bool(w->focusPolicy() & Qt::TabFocus), focusable(c.kind));
    }

    // The frames, just the catalogued controls in tab order, and no default button.
    void windows()
    {
        for (int form = 0; form < 4; ++form) {
            const Frame& f = kFrames[form];
            QWidget* w = m_forms[form].get();
            QCOMPARE(w->objectName() + ": " + w->windowTitle(), QString(f.form) + ": " + f.title);
            QCOMPARE(w->size(), QSize(px(f.w), px(f.h)));
            QCOMPARE(bool(w->windowFlags() & Qt::FramelessWindowHint), f.frameless);
            QCOMPARE(w->minimumSize() == w->maximumSize(), f.fixedSize);
            w->resize(px(f.w) / 2,
                      px(f.h) / 2); // never below the design, where controls would overlap
            QCOMPARE(w->size(), QSize(px(f.w), px(f.h)));
            QCOMPARE(!w->windowIcon().isNull(), f.icon);
            const auto children = w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
            QCOMPARE(children.size(), f.cells.size());
            QStringList chain, tabOrder;
            for (QWidget* c = w->nextInFocusChain(); c != w; c = c->nextInFocusChain()) {
                if (c->parentWidget() == w && (c->focusPolicy() & Qt::TabFocus))
                    chain << c->objectName();
            }
            for (const Cell& c : f.cells) {
                if (focusable(c.kind))
                    tabOrder << c.name;
            }
            QCOMPARE(chain, tabOrder);
            for (QWidget* c : children) {
                QVERIFY(!c->property("autoDefault").toBool() && !c->property("default").toBool());
                if ((c->focusPolicy() & Qt::TabFocus) || c->inherits(G)) // a screen reader names it
                    QVERIFY2(!QAccessible::queryAccessibleInterface(c)
                                  ->text(QAccessible::Name)
                                  .isEmpty(),
                             qPrintable(c->objectName()));
            }
            w->show();
            QVERIFY(QTest::qWaitForWindowActive(w));
            QCOMPARE(QApplication::focusWidget()->objectName(), QString(f.focus));
            w->hide();
        }
        QCOMPARE(m_boxes.texts(), QStringList()); // none asks a thing as it is built or shown
    }

    // The main window in a run, at its design size and maximised: every white and cyan
    // caption in full sight, at 4.5:1 or more against what is behind its letters (its own
    // ground where it has one); the shutdown box seen, at 3:1, ticked or not.
    void readable_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("design") << QSize(794, 578);
        QTest::newRow("maximised") << QSize(1920, 1050);
    }
    void readable()
    {
        QFETCH(QSize, size);
        QWidget* w = m_forms[3].get();
        const std::pair<const char*, const char*> figures[] = {
            {"Lbl_file_copiati", "1234"},
            {"Lbl_file_totali", "5678"},
            {"Lbl_n_cartelle", "12"},
            {"Lbl_file_da_copiare", "5678"},
            {"Lbl_dim_file", "Dimensione file : 2,93 Kb"},
            {"Lbl_dim_tot", "Dimensione da copiare : 1.600,00 Mb"},
            {"Lbl_tempo", "Tempo trascorso : 1 m 5 s Tempo rimanente : 3 m 10 s"}};
        for (auto [name, text] : figures)
            w->findChild<AutoSizeLabel*>(name)->setText(text);
        w->show();
        w->resize(size);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->size(), size);
        const QImage shown = w->grab().toImage();
        for (const char* name : {"Label3", "Label4", "Label5", "Label6", "Label8", "Label9",
                                 "Lbl_n_cartelle", "Lbl_file_da_copiare", "Lbl_file_copiati",
                                 "Lbl_file_totali", "Lbl_dim_file", "Lbl_dim_tot", "Lbl_tempo"}) {
            QWidget* c = w->findChild<QWidget*>(name);
            const QRect r = c->geometry() & w->rect();
            const bool grounded = c->styleSheet().contains("background");
            c->hide();
            const QImage behind = w->grab().toImage();
            c->show();
            QList<double> ratios; // one for each pixel the caption changes
            int right = r.left();
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    if (grounded
                            ? shown.pixel(x, y) == c->palette().color(c->backgroundRole()).rgb()
                            : shown.pixel(x, y) == behind.pixel(x, y))
                        continue;
                    right = std::max(right, x);
                    ratios << contrast(c->palette().color(c->foregroundRole()),
                                       grounded ? c->palette().color(c->backgroundRole())
                                                : behind.pixelColor(x, y));
                }
            }
            QVERIFY2(ratios.size() > 20, name);
            if (qobject_cast<AutoSizeLabel*>(c)) // its text runs to its far edge, nothing over it
                QVERIFY2(
                    right >= r.right() - 6,
                    qPrintable(QString("%1 ends at %2 of %3").arg(name).arg(right).arg(r.right())));
            std::sort(ratios.begin(), ratios.end());
            const double low =
                ratios.at(ratios.size() / 10); // a letter's soft edge may cross a frame
            QVERIFY2(low >= 4.5, qPrintable(QString("%1 at %2:1").arg(name).arg(low, 0, 'f', 2)));
        }

        auto* check = w->findChild<QCheckBox*>("Check1");
        QStyleOptionButton option;
        option.initFrom(check);
        const QRect box = check->style()
                              ->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check)
                              .translated(check->pos());
        QImage seen[2];
        for (bool ticked : {false, true}) {
            check->setChecked(ticked);
            seen[ticked] = w->grab(box).toImage();
            int clear = 0;
            for (int y = 0; y < box.height(); ++y)
                for (int x = 0; x < box.width(); ++x)
                    clear += contrast(seen[ticked].pixelColor(x, y), Qt::black) >= 3;
            QVERIFY2(clear * 2 > box.width() * box.height(), ticked ? "ticked" : "not ticked");
        }
        QVERIFY(seen[0] != seen[1]);
        check->setChecked(false);
    }
};

QTEST_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
