#include "kfwritefailurebox.h"

#include "widget/messagebox.h"

void showKFWriteFailureBox(uint32_t code)
{
    MessageBoxRequest request;
    request.kind = MessageBoxRequest::Critical;
    request.title = QStringLiteral("critical");
    request.text = QStringLiteral("Set KF Item failed! <font color='red'> ERROR: ") + QString::number(code)
                   + QStringLiteral(". application</font>");
    request.textFormat = Qt::RichText; // the red error; its one insert is a number
    messagebox::show(request);
}
