#pragma once
// Records every message box the tool asks for and answers it with scripted buttons, no user needed.
#include "widget/messagebox.h"

#include <QList>
#include <functional>

class MessageBoxRecorder : public MessageBoxHandler {
public:
    MessageBoxRecorder();  // installs itself
    ~MessageBoxRecorder() override; // puts back what was installed before

    // Answers in order; when none is left, a box is answered with its default button, or with
    // its first button when it has no default.
    void script(QMessageBox::StandardButton answer) { m_answers.append(answer); }
    const QList<MessageBoxRequest>& boxes() const { return m_boxes; }
    void clear() { m_boxes.clear(); m_answers.clear(); }
    // Runs while each box is "open", before it is answered, as the user's event loop would run then:
    // a test may unplug a keyboard in it and spin the event loop. Empty: none.
    void whileOpen(std::function<void(const MessageBoxRequest&)> action) { m_whileOpen = std::move(action); }

    QMessageBox::StandardButton show(const MessageBoxRequest& request) override;

private:
    MessageBoxHandler* m_before = nullptr;
    QList<MessageBoxRequest> m_boxes;
    QList<QMessageBox::StandardButton> m_answers;
    std::function<void(const MessageBoxRequest&)> m_whileOpen;
};
