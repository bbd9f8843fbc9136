// The four windows as created: frames, tab order, and the main window readable.
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

// Each window as designed: its size in twips, frame (all fixed), icon, and the focusable
// controls in tab order, the first taking the focus. (Texts and places are the
// .ui files' own.)
struct Frame { const char *form, *title; int w, h; bool frameless, icon; QStringList tabOrder; };
// clang-format off
const Frame kFrames[] = {
{"Form_avvio", "Form4", 4590, 4110, true, false,
 {"Option1", "Option2", "Command1", "Command2", "Richiesta_utente", "Combo1"}},
{"Form2", "Seleziona la cartella", 5520, 3840, false, false, {"Cmd_ok", "Drive1", "Dir1", "Command1", "Command2"}},
{"Form3", "Archivon.  Informazioni", 5460, 3840, false, true, {"Command1"}},
{"Form1", "QORL - Backup & Restore v. 1.0", 11910, 8670, false, true,
 {"Command3", "Check1", "Text_sorgente1", "Text_sorgente2", "Text_sorgente3", "Text_sorgente4",
  "Text_destinazione1", "Text_destinazione2", "Text_destinazione3", "Text_destinazione4", "NomePc",
  "IndirizzoIp", "Command5", "Nome_utente", "Lettera_disco"}}};
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
    // The frames, the focusable controls in tab order, and no default button; a
    // screen reader can name every control it reaches.
    void windows()
    {
        for (int form = 0; form < 4; ++form) {
            const Frame& f = kFrames[form];
            QWidget* w = m_forms[form].get();
            QCOMPARE(w->objectName() + ": " + w->windowTitle(), QString(f.form) + ": " + f.title);
            QCOMPARE(bool(w->windowFlags() & Qt::FramelessWindowHint), f.frameless);
            // A fixed frame, and so no maximise button.
            QVERIFY(w->minimumSize() == w->maximumSize() && !(w->windowFlags() & Qt::WindowMaximizeButtonHint));
            w->resize(px(f.w) / 2, px(f.h) / 2);
            QCOMPARE(w->size(), QSize(px(f.w), px(f.h)));
            QCOMPARE(!w->windowIcon().isNull(), f.icon);
            QStringList chain;
            for (QWidget* c = w->nextInFocusChain(); c != w; c = c->nextInFocusChain()) {
                if (c->parentWidget() == w && (c->focusPolicy() & Qt::TabFocus) && !c->isHidden())
                    chain << c->objectName();
            }
            QCOMPARE(chain, f.tabOrder);
            for (QWidget* c : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                QVERIFY(!c->property("autoDefault").toBool() && !c->property("default").toBool());
                if ((c->focusPolicy() & Qt::TabFocus) || c->inherits("archivon::ProgressBar"))
                    QVERIFY2(!QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name).isEmpty(),
                             qPrintable(c->objectName()));
            }
            w->show();
            QVERIFY(QTest::qWaitForWindowActive(w));
            QCOMPARE(QApplication::focusWidget()->objectName(), f.tabOrder.first());
            w->hide();
        }
        QCOMPARE(m_boxes.texts(), QStringList()); // none asks a thing as it is built or shown
    }

    // The main window in a run: no figure over another control, every white and cyan
    // caption in full sight, at 4.5:1 or more against what is behind its letters (its own
    // ground where it has one); the shutdown box seen, at 3:1, ticked or not.
    void readable()
    {
        const QSize size(794, 578);
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
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->size(), size);
        // The status bar keeps its height, docked across the bottom.
        QCOMPARE(w->findChild<QWidget*>("StatusBar1")->geometry(), QRect(0, size.height() - 28, size.width(), 28));
        // A figure, at its widest, covers no other control (frames and the backdrop
        // aside; boxes may touch by a pixel or two, as designed).
        for (QWidget* c : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!c->isVisible() || qstrcmp(c->metaObject()->className(), "QFrame") == 0 || c->objectName() == "Image1")
                continue;
            for (auto [name, text] : figures) {
                const QRect figure = w->findChild<QWidget*>(name)->geometry().adjusted(2, 2, -2, -2);
                QVERIFY2(c->objectName() == name || !figure.intersects(c->geometry()),
                         qPrintable(QString(name) + " over " + c->objectName()));
            }
        }
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
