// Closes the modal message boxes that the code under test shows, and records what
// they said, so that a test can check the title and text of each box.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

namespace tests {

struct ShownBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

class MessageBoxWatcher : public QObject
{
    Q_OBJECT

public:
    // While the watcher lives, every modal message box is recorded and closed with
    // `answer` (or with its escape button when `answer` is NoButton or not offered).
    explicit MessageBoxWatcher(QMessageBox::StandardButton answer = QMessageBox::NoButton,
                               QObject *parent = nullptr);

    const QList<ShownBox> &boxes() const { return m_boxes; }
    // "title|text" of each box, in order: handy for QCOMPARE.
    QStringList summary() const;
    void clear() { m_boxes.clear(); }

private:
    void poll();

    QTimer m_timer;
    QMessageBox::StandardButton m_answer;
    QList<ShownBox> m_boxes;
};

} // namespace tests
