#include "infodialog.h"

#include "widget/qss.h"

#include <QPainter>
#include <QPixmap>

InfoDialog::InfoDialog() : FramedDialog(nullptr), m_appDir(appDirPath()) {}

void InfoDialog::createButtons()
{
    createCloseButton();
    connect(&closeButton, &QPushButton::pressed, this, &InfoDialog::hideWindowsSlot);

    okButton.setParent(this);
    okButton.resize(50, 23);
    okButton.move(width() - 50 - 30, height() - 23 - 25);
    okButton.show();
    okButton.setText(QStringLiteral("OK"));
    Qss qss;
    qss.setOutlineButtonStyle(&okButton, 10, QColor(QStringLiteral("#282828")));
    connect(&okButton, &QPushButton::pressed, this, &InfoDialog::hideWindowsSlot);
}

void InfoDialog::drawIcon()
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawPixmap(QRect(60, 80, 125, 200), QPixmap(m_appDir + QStringLiteral("/images/About/icon-shadow.png")));
}

void InfoDialog::hideWindowsSlot()
{
    done(QDialog::Accepted);
}

void InfoDialog::done(int result)
{
    QDialog::done(result);
    deleteLater();
}
