#include "kfwritefailurebox.h"

#include "widget/messagebox.h"

void showKFWriteFailureBox(uint32_t code)
{
    messagebox::critical(nullptr, QStringLiteral("critical"),
                         QStringLiteral("Set KF Item failed! <font color='red'> ERROR: ") + QString::number(code)
                             + QStringLiteral(". application</font>"),
                         QMessageBox::Ok);
}
