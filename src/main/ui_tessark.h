#pragma once
// The main window's form: the keyboard picture's frame and the static key palette's scroll area.
#include <QCoreApplication>
#include <QFrame>
#include <QMainWindow>
#include <QMetaObject>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>
#include <QWidget>

class Ui_Tessark {
public:
    QWidget* centralWidget = nullptr;
    QFrame* dynamicLayout = nullptr;
    QVBoxLayout* verticalLayout_3 = nullptr;
    QScrollArea* scrollAreaStaticLayout = nullptr;
    QWidget* staticLayout = nullptr;
    QSlider* verticalSliderStaticLayout = nullptr;

    void setupUi(QMainWindow* window)
    {
        if (window->objectName().isEmpty())
            window->setObjectName(QStringLiteral("Tessark"));
        window->resize(980, 750);
        window->setMinimumSize(980, 750);
        window->setMaximumSize(980, 750);
        window->setStyleSheet(QString());

        centralWidget = new QWidget(window);
        centralWidget->setObjectName(QStringLiteral("centralWidget"));

        dynamicLayout = new QFrame(centralWidget);
        dynamicLayout->setObjectName(QStringLiteral("dynamicLayout"));
        dynamicLayout->setEnabled(true);
        dynamicLayout->setGeometry(100, 90, 741, 231);
        dynamicLayout->setFrameShape(QFrame::NoFrame);
        dynamicLayout->setFrameShadow(QFrame::Raised);
        verticalLayout_3 = new QVBoxLayout(dynamicLayout);
        verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));
        verticalLayout_3->setSpacing(2);
        verticalLayout_3->setContentsMargins(2, 2, 2, 2);

        scrollAreaStaticLayout = new QScrollArea(centralWidget);
        scrollAreaStaticLayout->setObjectName(QStringLiteral("scrollAreaStaticLayout"));
        scrollAreaStaticLayout->setGeometry(30, 385, 902, 333);
        scrollAreaStaticLayout->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scrollAreaStaticLayout->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scrollAreaStaticLayout->setSizeAdjustPolicy(QAbstractScrollArea::AdjustIgnored);
        scrollAreaStaticLayout->setWidgetResizable(true);
        staticLayout = new QWidget();
        staticLayout->setObjectName(QStringLiteral("staticLayout"));
        staticLayout->setGeometry(0, 0, 900, 350);
        staticLayout->setMinimumHeight(350);
        scrollAreaStaticLayout->setWidget(staticLayout);

        verticalSliderStaticLayout = new QSlider(centralWidget);
        verticalSliderStaticLayout->setObjectName(QStringLiteral("verticalSliderStaticLayout"));
        verticalSliderStaticLayout->setGeometry(930, 380, 20, 321);
        verticalSliderStaticLayout->setOrientation(Qt::Vertical);

        window->setCentralWidget(centralWidget);
        window->setWindowTitle(QCoreApplication::translate("Tessark", "Tessark"));
        QMetaObject::connectSlotsByName(window);
    }
};
