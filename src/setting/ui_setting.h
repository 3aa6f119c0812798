#pragma once
// The settings page's form: product information, settings and update frames with their children.
#include <QCheckBox>
#include <QCoreApplication>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QWidget>

class Ui_Setting {
public:
    QFrame* frameProduct = nullptr;
    QWidget* layoutWidget = nullptr;
    QGridLayout* gridLayout = nullptr;
    QLabel* label = nullptr;
    QLabel* label_2 = nullptr;
    QLabel* label_3 = nullptr;
    QLabel* label_4 = nullptr;
    QWidget* layoutWidget1 = nullptr;
    QGridLayout* gridLayout_3 = nullptr;
    QLabel* labelPN = nullptr;
    QLabel* labelFV = nullptr;
    QLabel* labelHV = nullptr;
    QLabel* labelCD = nullptr;
    QLabel* label_ProductInformation = nullptr;
    QPushButton* buildingBlockButton = nullptr;
    QFrame* frameSetting = nullptr;
    QWidget* layoutWidget2 = nullptr;
    QGridLayout* gridLayout_2 = nullptr;
    QLabel* label_BluetoothName = nullptr;
    QLabel* label_SleepTime = nullptr;
    QLineEdit* QLineEdit_BluetoothName = nullptr;
    QPushButton* Button_BluetoothName = nullptr;
    QLabel* label_Setting = nullptr;
    QCheckBox* checkBox_Enabled_AutoSleep = nullptr;
    QWidget* widget_AutoSleep = nullptr;
    QFrame* frameUpdate = nullptr;

    void setupUi(QWidget* Setting)
    {
        if (Setting->objectName().isEmpty())
            Setting->setObjectName(QStringLiteral("Setting"));
        Setting->resize(872, 695);

        QFont boldFont;
        boldFont.setFamily(QStringLiteral("Consolas"));
        boldFont.setPointSize(14);
        boldFont.setBold(true);
        boldFont.setWeight(75);

        frameProduct = new QFrame(Setting);
        frameProduct->setObjectName(QStringLiteral("frameProduct"));
        frameProduct->setGeometry(QRect(50, 9, 781, 210));
        frameProduct->setMinimumSize(QSize(0, 210));
        frameProduct->setFont(boldFont);
        frameProduct->setFrameShape(QFrame::NoFrame);
        frameProduct->setFrameShadow(QFrame::Raised);

        layoutWidget = new QWidget(frameProduct);
        layoutWidget->setObjectName(QStringLiteral("layoutWidget"));
        layoutWidget->setGeometry(QRect(50, 58, 171, 121));
        gridLayout = new QGridLayout(layoutWidget);
        gridLayout->setObjectName(QStringLiteral("gridLayout"));
        gridLayout->setContentsMargins(0, 0, 0, 0);
        label = new QLabel(layoutWidget);
        label->setObjectName(QStringLiteral("label"));
        gridLayout->addWidget(label, 0, 0, 1, 1);
        label_2 = new QLabel(layoutWidget);
        label_2->setObjectName(QStringLiteral("label_2"));
        gridLayout->addWidget(label_2, 1, 0, 1, 1);
        label_3 = new QLabel(layoutWidget);
        label_3->setObjectName(QStringLiteral("label_3"));
        gridLayout->addWidget(label_3, 2, 0, 1, 1);
        label_4 = new QLabel(layoutWidget);
        label_4->setObjectName(QStringLiteral("label_4"));
        gridLayout->addWidget(label_4, 3, 0, 1, 1);

        layoutWidget1 = new QWidget(frameProduct);
        layoutWidget1->setObjectName(QStringLiteral("layoutWidget1"));
        layoutWidget1->setGeometry(QRect(230, 58, 241, 121));
        gridLayout_3 = new QGridLayout(layoutWidget1);
        gridLayout_3->setObjectName(QStringLiteral("gridLayout_3"));
        gridLayout_3->setContentsMargins(0, 0, 0, 0);
        labelPN = new QLabel(layoutWidget1);
        labelPN->setObjectName(QStringLiteral("labelPN"));
        gridLayout_3->addWidget(labelPN, 0, 0, 1, 1);
        labelFV = new QLabel(layoutWidget1);
        labelFV->setObjectName(QStringLiteral("labelFV"));
        gridLayout_3->addWidget(labelFV, 1, 0, 1, 1);
        labelHV = new QLabel(layoutWidget1);
        labelHV->setObjectName(QStringLiteral("labelHV"));
        gridLayout_3->addWidget(labelHV, 2, 0, 1, 1);
        labelCD = new QLabel(layoutWidget1);
        labelCD->setObjectName(QStringLiteral("labelCD"));
        gridLayout_3->addWidget(labelCD, 3, 0, 1, 1);

        label_ProductInformation = new QLabel(frameProduct);
        label_ProductInformation->setObjectName(QStringLiteral("label_ProductInformation"));
        label_ProductInformation->setGeometry(QRect(20, 10, 261, 31));

        buildingBlockButton = new QPushButton(frameProduct);
        buildingBlockButton->setObjectName(QStringLiteral("buildingBlockButton"));
        buildingBlockButton->setGeometry(QRect(600, 90, 35, 35));
        QFont smallFont;
        smallFont.setFamily(QStringLiteral("Consolas"));
        smallFont.setPointSize(9);
        buildingBlockButton->setFont(smallFont);

        frameSetting = new QFrame(Setting);
        frameSetting->setObjectName(QStringLiteral("frameSetting"));
        frameSetting->setGeometry(QRect(50, 225, 781, 171));
        frameSetting->setMinimumSize(QSize(0, 170));
        QFont settingFont;
        settingFont.setFamily(QStringLiteral("Consolas"));
        settingFont.setPointSize(14);
        settingFont.setBold(false);
        settingFont.setWeight(50);
        frameSetting->setFont(settingFont);
        frameSetting->setFrameShape(QFrame::NoFrame);
        frameSetting->setFrameShadow(QFrame::Raised);

        layoutWidget2 = new QWidget(frameSetting);
        layoutWidget2->setObjectName(QStringLiteral("layoutWidget2"));
        layoutWidget2->setGeometry(QRect(47, 54, 161, 81));
        gridLayout_2 = new QGridLayout(layoutWidget2);
        gridLayout_2->setObjectName(QStringLiteral("gridLayout_2"));
        gridLayout_2->setContentsMargins(0, 0, 0, 0);
        label_BluetoothName = new QLabel(layoutWidget2);
        label_BluetoothName->setObjectName(QStringLiteral("label_BluetoothName"));
        gridLayout_2->addWidget(label_BluetoothName, 0, 0, 1, 1);
        label_SleepTime = new QLabel(layoutWidget2);
        label_SleepTime->setObjectName(QStringLiteral("label_SleepTime"));
        gridLayout_2->addWidget(label_SleepTime, 1, 0, 1, 1);

        QLineEdit_BluetoothName = new QLineEdit(frameSetting);
        QLineEdit_BluetoothName->setObjectName(QStringLiteral("QLineEdit_BluetoothName"));
        QLineEdit_BluetoothName->setGeometry(QRect(218, 57, 210, 31));

        Button_BluetoothName = new QPushButton(frameSetting);
        Button_BluetoothName->setObjectName(QStringLiteral("Button_BluetoothName"));
        Button_BluetoothName->setGeometry(QRect(438, 58, 30, 30));
        Button_BluetoothName->setMinimumSize(QSize(30, 30));
        Button_BluetoothName->setMaximumSize(QSize(35, 35));
        Button_BluetoothName->setIconSize(QSize(27, 27));
        Button_BluetoothName->setFlat(false);

        label_Setting = new QLabel(frameSetting);
        label_Setting->setObjectName(QStringLiteral("label_Setting"));
        label_Setting->setGeometry(QRect(20, 10, 361, 31));

        checkBox_Enabled_AutoSleep = new QCheckBox(frameSetting);
        checkBox_Enabled_AutoSleep->setObjectName(QStringLiteral("checkBox_Enabled_AutoSleep"));
        checkBox_Enabled_AutoSleep->setGeometry(QRect(445, 104, 93, 26));
        checkBox_Enabled_AutoSleep->setChecked(false);

        widget_AutoSleep = new QWidget(frameSetting);
        widget_AutoSleep->setObjectName(QStringLiteral("widget_AutoSleep"));
        widget_AutoSleep->setGeometry(QRect(218, 107, 208, 46));
        widget_AutoSleep->setMinimumSize(QSize(208, 45));
        widget_AutoSleep->setMaximumSize(QSize(208, 16777215));

        frameUpdate = new QFrame(Setting);
        frameUpdate->setObjectName(QStringLiteral("frameUpdate"));
        frameUpdate->setGeometry(QRect(50, 410, 781, 130));
        frameUpdate->setMinimumSize(QSize(0, 130));
        frameUpdate->setFont(boldFont);
        frameUpdate->setFrameShape(QFrame::NoFrame);
        frameUpdate->setFrameShadow(QFrame::Raised);

        retranslateUi(Setting);
        QMetaObject::connectSlotsByName(Setting);
    }

    void retranslateUi(QWidget* Setting)
    {
        Setting->setWindowTitle(QCoreApplication::translate("Setting", "Form", nullptr));
        label->setText(QCoreApplication::translate("Setting", "Product Name:", nullptr));
        label_2->setText(QCoreApplication::translate("Setting", "Firmware Version:", nullptr));
        label_3->setText(QCoreApplication::translate("Setting", "Hardware Version:", nullptr));
        label_4->setText(QCoreApplication::translate("Setting", "Release Date:", nullptr));
        labelPN->setText(QCoreApplication::translate("Setting", "None", nullptr));
        labelFV->setText(QCoreApplication::translate("Setting", "None", nullptr));
        labelHV->setText(QCoreApplication::translate("Setting", "None", nullptr));
        labelCD->setText(QCoreApplication::translate("Setting", "None", nullptr));
        label_ProductInformation->setText(QCoreApplication::translate("Setting", "Product information", nullptr));
        buildingBlockButton->setText(QString());
        label_BluetoothName->setText(QCoreApplication::translate("Setting", "Bluetooth Name:", nullptr));
        label_SleepTime->setText(QCoreApplication::translate("Setting", "Sleep Time:", nullptr));
        Button_BluetoothName->setText(QString());
        label_Setting->setText(QCoreApplication::translate("Setting", "Setting", nullptr));
        checkBox_Enabled_AutoSleep->setText(QCoreApplication::translate("Setting", "Enabled", nullptr));
    }
};

namespace Ui {
class Setting : public Ui_Setting {};
} // namespace Ui
