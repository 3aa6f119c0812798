#include "kfwritefailurebox.h"

#include <QMessageBox>

void showKFWriteFailureBox(uint32_t code)
{
    QMessageBox::critical(nullptr, QStringLiteral("critical"),
                          QStringLiteral("Set KF Item failed! <font color='red'> ERROR: ") + QString::number(code)
                              + QStringLiteral(". application</font>"),
                          QMessageBox::Ok);
}
