#pragma once
// The update dialog's form: the check row, the tool frame and the firmware frame.
#include <QCheckBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QSpacerItem>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWidget>

class Ui_onlineUpdate {
public:
    QFrame* frame_6 = nullptr;
    QHBoxLayout* horizontalLayout_4 = nullptr;
    QWidget* widget_5 = nullptr;
    QHBoxLayout* horizontalLayout_3 = nullptr;
    QCheckBox* checkBox_AutoCheckUpdate = nullptr;
    QPushButton* pushButton_checkUpdate = nullptr;
    QLabel* label_UpdateTip = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QFrame* frame_TessarkUpdate = nullptr;
    QHBoxLayout* horizontalLayout_5 = nullptr;
    QWidget* widget = nullptr;
    QHBoxLayout* horizontalLayout = nullptr;
    QTextEdit* textEdit_TessarkUpdate = nullptr;
    QWidget* widget_3 = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QSpacerItem* verticalSpacer = nullptr;
    QPushButton* pushButton_TessarkUpdate = nullptr;
    QSpacerItem* verticalSpacer_2 = nullptr;
    QLabel* label_Progress = nullptr;
    QFrame* frame_FirmwareUpdate = nullptr;
    QHBoxLayout* horizontalLayout_6 = nullptr;
    QWidget* widget_FirmwareUpdate_2 = nullptr;
    QHBoxLayout* horizontalLayout_2 = nullptr;
    QTextEdit* textEdit_FirmwareUpdate = nullptr;
    QWidget* widget_4 = nullptr;
    QVBoxLayout* verticalLayout_2 = nullptr;
    QSpacerItem* verticalSpacer_3 = nullptr;
    QPushButton* pushButton_FirmwareUpdate = nullptr;
    QSpacerItem* verticalSpacer_4 = nullptr;
    QLabel* label_Firmware_Progress = nullptr;

    void setupUi(QWidget* onlineUpdate)
    {
        if (onlineUpdate->objectName().isEmpty())
            onlineUpdate->setObjectName(QStringLiteral("onlineUpdate"));
        onlineUpdate->resize(620, 430);
        onlineUpdate->setMinimumSize(QSize(620, 430));
        onlineUpdate->setMaximumSize(QSize(620, 430));
        QIcon icon;
        icon.addFile(QStringLiteral("://images/Tessark-icon-tools-win.svg"), QSize(), QIcon::Normal, QIcon::Off);
        onlineUpdate->setWindowIcon(icon);

        frame_6 = new QFrame(onlineUpdate);
        frame_6->setObjectName(QStringLiteral("frame_6"));
        frame_6->setGeometry(QRect(40, 30, 541, 61));
        frame_6->setFrameShape(QFrame::StyledPanel);
        frame_6->setFrameShadow(QFrame::Plain);
        frame_6->setLineWidth(5);
        frame_6->setMidLineWidth(4);
        horizontalLayout_4 = new QHBoxLayout(frame_6);
        horizontalLayout_4->setObjectName(QStringLiteral("horizontalLayout_4"));
        widget_5 = new QWidget(frame_6);
        widget_5->setObjectName(QStringLiteral("widget_5"));
        horizontalLayout_3 = new QHBoxLayout(widget_5);
        horizontalLayout_3->setSpacing(40);
        horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
        // -1: the style's default margin.
        horizontalLayout_3->setContentsMargins(18, 0, -1, 0);
        checkBox_AutoCheckUpdate = new QCheckBox(widget_5);
        checkBox_AutoCheckUpdate->setObjectName(QStringLiteral("checkBox_AutoCheckUpdate"));
        checkBox_AutoCheckUpdate->setChecked(true);
        checkBox_AutoCheckUpdate->setTristate(false);
        horizontalLayout_3->addWidget(checkBox_AutoCheckUpdate);
        pushButton_checkUpdate = new QPushButton(widget_5);
        pushButton_checkUpdate->setObjectName(QStringLiteral("pushButton_checkUpdate"));
        horizontalLayout_3->addWidget(pushButton_checkUpdate);
        label_UpdateTip = new QLabel(widget_5);
        label_UpdateTip->setObjectName(QStringLiteral("label_UpdateTip"));
        label_UpdateTip->setMinimumSize(QSize(240, 0));
        horizontalLayout_3->addWidget(label_UpdateTip);
        horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout_3->addItem(horizontalSpacer);
        horizontalLayout_4->addWidget(widget_5);

        frame_TessarkUpdate = new QFrame(onlineUpdate);
        frame_TessarkUpdate->setObjectName(QStringLiteral("frame_TessarkUpdate"));
        frame_TessarkUpdate->setGeometry(QRect(40, 100, 541, 141));
        frame_TessarkUpdate->setFrameShape(QFrame::StyledPanel);
        frame_TessarkUpdate->setFrameShadow(QFrame::Raised);
        horizontalLayout_5 = new QHBoxLayout(frame_TessarkUpdate);
        horizontalLayout_5->setObjectName(QStringLiteral("horizontalLayout_5"));
        widget = new QWidget(frame_TessarkUpdate);
        widget->setObjectName(QStringLiteral("widget"));
        horizontalLayout = new QHBoxLayout(widget);
        horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
        horizontalLayout->setContentsMargins(0, 0, 0, 0);
        textEdit_TessarkUpdate = new QTextEdit(widget);
        textEdit_TessarkUpdate->setObjectName(QStringLiteral("textEdit_TessarkUpdate"));
        textEdit_TessarkUpdate->setFrameShape(QFrame::NoFrame);
        textEdit_TessarkUpdate->setReadOnly(true);
        horizontalLayout->addWidget(textEdit_TessarkUpdate);
        widget_3 = new QWidget(widget);
        widget_3->setObjectName(QStringLiteral("widget_3"));
        widget_3->setMinimumSize(QSize(100, 0));
        verticalLayout = new QVBoxLayout(widget_3);
        verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
        verticalLayout->setContentsMargins(9, 0, 9, 0);
        verticalSpacer = new QSpacerItem(20, 20, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout->addItem(verticalSpacer);
        pushButton_TessarkUpdate = new QPushButton(widget_3);
        pushButton_TessarkUpdate->setObjectName(QStringLiteral("pushButton_TessarkUpdate"));
        verticalLayout->addWidget(pushButton_TessarkUpdate);
        verticalSpacer_2 = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout->addItem(verticalSpacer_2);
        label_Progress = new QLabel(widget_3);
        label_Progress->setObjectName(QStringLiteral("label_Progress"));
        label_Progress->setMinimumSize(QSize(0, 70));
        label_Progress->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255,255);"));
        verticalLayout->addWidget(label_Progress);
        horizontalLayout->addWidget(widget_3);
        horizontalLayout_5->addWidget(widget);

        frame_FirmwareUpdate = new QFrame(onlineUpdate);
        frame_FirmwareUpdate->setObjectName(QStringLiteral("frame_FirmwareUpdate"));
        frame_FirmwareUpdate->setGeometry(QRect(40, 250, 541, 141));
        frame_FirmwareUpdate->setFrameShape(QFrame::StyledPanel);
        frame_FirmwareUpdate->setFrameShadow(QFrame::Raised);
        horizontalLayout_6 = new QHBoxLayout(frame_FirmwareUpdate);
        horizontalLayout_6->setObjectName(QStringLiteral("horizontalLayout_6"));
        widget_FirmwareUpdate_2 = new QWidget(frame_FirmwareUpdate);
        widget_FirmwareUpdate_2->setObjectName(QStringLiteral("widget_FirmwareUpdate_2"));
        horizontalLayout_2 = new QHBoxLayout(widget_FirmwareUpdate_2);
        horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
        horizontalLayout_2->setContentsMargins(0, 0, 0, 0);
        textEdit_FirmwareUpdate = new QTextEdit(widget_FirmwareUpdate_2);
        textEdit_FirmwareUpdate->setObjectName(QStringLiteral("textEdit_FirmwareUpdate"));
        textEdit_FirmwareUpdate->setFrameShape(QFrame::NoFrame);
        textEdit_FirmwareUpdate->setReadOnly(true);
        horizontalLayout_2->addWidget(textEdit_FirmwareUpdate);
        widget_4 = new QWidget(widget_FirmwareUpdate_2);
        widget_4->setObjectName(QStringLiteral("widget_4"));
        widget_4->setMinimumSize(QSize(100, 0));
        verticalLayout_2 = new QVBoxLayout(widget_4);
        verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
        verticalLayout_2->setContentsMargins(-1, 0, -1, 0);
        verticalSpacer_3 = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout_2->addItem(verticalSpacer_3);
        pushButton_FirmwareUpdate = new QPushButton(widget_4);
        pushButton_FirmwareUpdate->setObjectName(QStringLiteral("pushButton_FirmwareUpdate"));
        verticalLayout_2->addWidget(pushButton_FirmwareUpdate);
        verticalSpacer_4 = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout_2->addItem(verticalSpacer_4);
        label_Firmware_Progress = new QLabel(widget_4);
        label_Firmware_Progress->setObjectName(QStringLiteral("label_Firmware_Progress"));
        label_Firmware_Progress->setMinimumSize(QSize(0, 70));
        label_Firmware_Progress->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255,255);"));
        verticalLayout_2->addWidget(label_Firmware_Progress);
        horizontalLayout_2->addWidget(widget_4);
        horizontalLayout_6->addWidget(widget_FirmwareUpdate_2);

        retranslateUi(onlineUpdate);
        QMetaObject::connectSlotsByName(onlineUpdate);
    }

    void retranslateUi(QWidget* onlineUpdate)
    {
        onlineUpdate->setWindowTitle(QCoreApplication::translate("onlineUpdate", "在线升级", nullptr));
        checkBox_AutoCheckUpdate->setText(QCoreApplication::translate("onlineUpdate", "自动检查更新", nullptr));
        pushButton_checkUpdate->setText(QCoreApplication::translate("onlineUpdate", "检查更新", nullptr));
        label_UpdateTip->setText(QString());
        textEdit_TessarkUpdate->setHtml(QCoreApplication::translate("onlineUpdate", EmptyTextHtml, nullptr));
        pushButton_TessarkUpdate->setText(QCoreApplication::translate("onlineUpdate", "立即升级", nullptr));
        label_Progress->setText(QString());
        textEdit_FirmwareUpdate->setHtml(QCoreApplication::translate("onlineUpdate", EmptyTextHtml, nullptr));
        pushButton_FirmwareUpdate->setText(QCoreApplication::translate("onlineUpdate", "立即升级", nullptr));
        label_Firmware_Progress->setText(QString());
    }

private:
    // An empty paragraph in SimSun 9 pt.
    static constexpr const char* EmptyTextHtml =
        "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" \"http://www.w3.org/TR/REC-html40/strict.dtd\">\n"
        "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
        "p, li { white-space: pre-wrap; }\n"
        "</style></head><body style=\" font-family:'SimSun'; font-size:9pt; font-weight:400; "
        "font-style:normal;\">\n"
        "<p style=\"-qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px; margin-left:0px; "
        "margin-right:0px; -qt-block-indent:0; text-indent:0px;\"><br /></p></body></html>";
};

namespace Ui {
class onlineUpdate : public Ui_onlineUpdate {};
} // namespace Ui
