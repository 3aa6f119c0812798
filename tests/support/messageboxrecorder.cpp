#include "messageboxrecorder.h"

MessageBoxRecorder::MessageBoxRecorder() : m_before(messagebox::setHandler(this)) {}

MessageBoxRecorder::~MessageBoxRecorder() { messagebox::setHandler(m_before); }

QMessageBox::StandardButton MessageBoxRecorder::show(const MessageBoxRequest& request)
{
    m_boxes.append(request);
    if (m_whileOpen)
        m_whileOpen(request);
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    if (request.defaultButton != QMessageBox::NoButton)
        return request.defaultButton;
    // The lowest flag is the first button, as QMessageBox orders them.
    for (uint bit = QMessageBox::FirstButton; bit && bit <= QMessageBox::LastButton; bit <<= 1) {
        if (request.buttons & bit)
            return QMessageBox::StandardButton(bit);
    }
    return QMessageBox::NoButton;
}
