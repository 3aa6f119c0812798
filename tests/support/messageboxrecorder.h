#pragma once
// Records every message box the tool asks for and answers it with scripted buttons, no user needed.
#include "widget/messagebox.h"

#include <QList>

class MessageBoxRecorder : public MessageBoxHandler {
public:
    MessageBoxRecorder();  // installs itself
    ~MessageBoxRecorder() override; // puts back what was installed before

    // Answers in order; when none is left, a box is answered with its default button, or with
    // its first button when it has no default.
    void script(QMessageBox::StandardButton answer) { m_answers.append(answer); }
    const QList<MessageBoxRequest>& boxes() const { return m_boxes; }
    void clear() { m_boxes.clear(); m_answers.clear(); }

    QMessageBox::StandardButton show(const MessageBoxRequest& request) override;

private:
    MessageBoxHandler* m_before = nullptr;
    QList<MessageBoxRequest> m_boxes;
    QList<QMessageBox::StandardButton> m_answers;
};
