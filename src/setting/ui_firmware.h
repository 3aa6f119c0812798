#pragma once
// The firmware panel's form: block title, path edit, folder and update buttons.
#include <QCoreApplication>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QWidget>

class Ui_Firmware {
public:
    QLabel* label_Update = nullptr;
    QLineEdit* openLineEdit = nullptr;
    QPushButton* openFileButton = nullptr;
    QPushButton* downloadButton = nullptr;

    void setupUi(QWidget* Firmware)
    {
        if (Firmware->objectName().isEmpty())
            Firmware->setObjectName(QStringLiteral("Firmware"));
        Firmware->resize(799, 140);

        label_Update = new QLabel(Firmware);
        label_Update->setObjectName(QStringLiteral("label_Update"));
        label_Update->setGeometry(20, 10, 101, 31);
        QFont font;
        font.setFamily(QStringLiteral("Consolas"));
        font.setPointSize(14);
        font.setBold(true);
        font.setWeight(75);
        label_Update->setFont(font);

        openLineEdit = new QLineEdit(Firmware);
        openLineEdit->setObjectName(QStringLiteral("openLineEdit"));
        openLineEdit->setGeometry(218, 55, 490, 31);
        openLineEdit->setFocusPolicy(Qt::StrongFocus);
        openLineEdit->setInputMask(QString());
        openLineEdit->setEchoMode(QLineEdit::Normal);
        openLineEdit->setDragEnabled(false);

        openFileButton = new QPushButton(Firmware);
        openFileButton->setObjectName(QStringLiteral("openFileButton"));
        openFileButton->setGeometry(720, 55, 30, 30);

        downloadButton = new QPushButton(Firmware);
        downloadButton->setObjectName(QStringLiteral("downloadButton"));
        downloadButton->setGeometry(760, 55, 30, 30);

        retranslateUi(Firmware);
        QMetaObject::connectSlotsByName(Firmware);
    }

    void retranslateUi(QWidget* Firmware)
    {
        Firmware->setWindowTitle(QCoreApplication::translate("Firmware", "Form", nullptr));
        label_Update->setText(QCoreApplication::translate("Firmware", "Update", nullptr));
        openFileButton->setText(QString());
        downloadButton->setText(QString());
    }
};

namespace Ui {
class Firmware : public Ui_Firmware {};
} // namespace Ui
