#pragma once
// The palette's form: a framed group of 38 colour buttons in two rows of 19, centred at the top.
#include <QCoreApplication>
#include <QFont>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWidget>

class Ui_Palette {
public:
    QHBoxLayout* horizontalLayout = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QGroupBox* groupBoxCustom = nullptr;
    QPushButton* customColor[38] = {};
    QSpacerItem* verticalSpacer = nullptr;
    QSpacerItem* horizontalSpacer_2 = nullptr;

    static constexpr int ButtonCount = 38;

    void setupUi(QWidget* palette)
    {
        if (palette->objectName().isEmpty())
            palette->setObjectName(QStringLiteral("Palette"));
        palette->resize(792, 180);
        palette->setStyleSheet(QString());

        horizontalLayout = new QHBoxLayout(palette);
        horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
        horizontalSpacer = new QSpacerItem(24, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout->addItem(horizontalSpacer);

        verticalLayout = new QVBoxLayout();
        verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
        groupBoxCustom = new QGroupBox(palette);
        groupBoxCustom->setObjectName(QStringLiteral("groupBoxCustom"));
        groupBoxCustom->setEnabled(true);
        groupBoxCustom->setMinimumSize(QSize(760, 154));
        groupBoxCustom->setMaximumSize(QSize(760, 154));
        QFont font;
        font.setFamily(QStringLiteral("Consolas"));
        font.setPointSize(11);
        font.setBold(true);
        font.setWeight(75);
        groupBoxCustom->setFont(font);
        groupBoxCustom->setStyleSheet(QStringLiteral(
            "QGroupBox{ color: rgb(75, 75, 75); background-color: transparent; border: 1px solid #afafaf; "
            "border-radius: 5px; margin-top: 9px; }\n"
            "QGroupBox::title{ subcontrol-origin: margin; subcontrol-position: top center; padding: 0px 9px; }"));
        groupBoxCustom->setFlat(false);
        groupBoxCustom->setCheckable(false);
        for (int k = 0; k < ButtonCount; ++k) {
            QPushButton* button = new QPushButton(groupBoxCustom);
            button->setObjectName(QStringLiteral("customColor_%1").arg(k));
            button->setGeometry(QRect(15 + 39 * (k % 19), k < 19 ? 73 : 110, 28, 28));
            button->setMinimumSize(QSize(28, 28));
            button->setMaximumSize(QSize(28, 28));
            customColor[k] = button;
        }
        verticalLayout->addWidget(groupBoxCustom);
        verticalSpacer = new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
        verticalLayout->addItem(verticalSpacer);
        horizontalLayout->addLayout(verticalLayout);

        horizontalSpacer_2 = new QSpacerItem(24, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
        horizontalLayout->addItem(horizontalSpacer_2);

        retranslateUi(palette);
        QMetaObject::connectSlotsByName(palette);
    }

    void retranslateUi(QWidget* palette)
    {
        palette->setWindowTitle(QCoreApplication::translate("Palette", "Form"));
        groupBoxCustom->setTitle(QCoreApplication::translate("Palette", "LED COLOR"));
        for (QPushButton* button : customColor)
            button->setText(QString());
    }
};
