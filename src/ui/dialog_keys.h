#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QKeyEvent;

// True for a key press of Enter, Return or Escape: the keys that would confirm or cancel a dialog.
bool IsDialogKeySwallowed(const QKeyEvent& event);

// While it lives, drops those key presses for `window` and every widget inside it before any of
// them sees the key, so that neither a default button nor the dialog itself acts on it.
class DialogKeySwallower : public QObject {
public:
    explicit DialogKeySwallower(QWidget* window);
    ~DialogKeySwallower() override;

    DialogKeySwallower(const DialogKeySwallower&) = delete;
    DialogKeySwallower& operator=(const DialogKeySwallower&) = delete;

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

private:
    QPointer<QWidget> window_;
};
