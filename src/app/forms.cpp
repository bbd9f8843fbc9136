#include "app/forms.h"

#include "dialogs/form2.h"
#include "dialogs/form3.h"
#include "dialogs/formavvio.h"
#include "mainwindow/form1.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

namespace archivon {

namespace {

QPointer<FormAvvio> g_avvio;
QPointer<Form1> g_form1;
QPointer<Form2> g_form2;
QPointer<Form3> g_form3;
bool g_ending = false;

template <typename T> T* load(QPointer<T>& slot)
{
    if (!slot) {
        auto* form = new T;
        form->setAttribute(Qt::WA_DeleteOnClose);
        // Registered before loading, so that the load step can reach its own window.
        slot = form;
        form->Form_Load();
    }
    return slot;
}

QList<QWidget*> loaded()
{
    QList<QWidget*> forms;
    for (QWidget* w : {static_cast<QWidget*>(g_avvio), static_cast<QWidget*>(g_form1),
                       static_cast<QWidget*>(g_form2), static_cast<QWidget*>(g_form3)}) {
        if (w)
            forms << w;
    }
    return forms;
}

} // namespace

FormAvvio* Forms::avvio()
{
    return load(g_avvio);
}
Form1* Forms::form1()
{
    return load(g_form1);
}
Form2* Forms::form2()
{
    return load(g_form2);
}
Form3* Forms::form3()
{
    return load(g_form3);
}

bool Forms::isLoaded(const QString& name)
{
    if (name == QLatin1String("Form_avvio"))
        return g_avvio;
    if (name == QLatin1String("Form1"))
        return g_form1;
    if (name == QLatin1String("Form2"))
        return g_form2;
    if (name == QLatin1String("Form3"))
        return g_form3;
    return false;
}

void Forms::unload(QWidget* form)
{
    if (!form)
        return;
    forget(form);
    form->close();
}

bool Forms::ending()
{
    return g_ending;
}

void Forms::endProgram()
{
    if (g_ending)
        return;
    g_ending = true;
    for (QWidget* form : loaded()) {
        if (form != g_form1)
            unload(form);
    }
    QCoreApplication::exit(0);
}

void Forms::forget(QWidget* form)
{
    if (form == g_avvio)
        g_avvio = nullptr;
    else if (form == g_form1)
        g_form1 = nullptr;
    else if (form == g_form2)
        g_form2 = nullptr;
    else if (form == g_form3)
        g_form3 = nullptr;
}

void Forms::unloadAll()
{
    const QList<QWidget*> forms = loaded();
    g_avvio = nullptr;
    g_form1 = nullptr;
    g_form2 = nullptr;
    g_form3 = nullptr;
    qDeleteAll(forms);
    // Windows closed earlier wait for the event loop to delete them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    g_ending = false;
}

} // namespace archivon
