#include "support/messageboxwatcher.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QApplication>

namespace tests {

MessageBoxWatcher::MessageBoxWatcher(QMessageBox::StandardButton answer, QObject *parent)
    : QObject(parent), m_answer(answer)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxWatcher::poll);
    m_timer.start();
}

QStringList MessageBoxWatcher::summary() const
{
    QStringList out;
    for (const ShownBox &box : m_boxes)
        out << box.title + u'|' + box.text;
    return out;
}

void MessageBoxWatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;

    ShownBox shown;
    shown.title = box->windowTitle();
    shown.text = box->text();
    shown.icon = box->icon();
    shown.buttons = box->standardButtons();
    if (QPushButton *def = box->defaultButton())
        shown.defaultButton = box->standardButton(def);
    m_boxes.append(shown);

    QAbstractButton *button = nullptr;
    if (m_answer != QMessageBox::NoButton)
        button = box->button(m_answer);
    if (!button)
        button = box->escapeButton();
    if (button)
        button->click();
    else
        box->done(0);
}

} // namespace tests
