#pragma once
// The online update's shared state: the tool's version from about.xml and the update dialog it shows.
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

class overallVariate : public QObject {
    Q_OBJECT
public:
    explicit overallVariate(QObject* parent = nullptr);

    // The last space-separated word of the firmware line of config/about.xml; empty when the file
    // cannot be opened or parsed.
    static QString getTessarkVersions();

    // Restores, activates and shows the update dialog; only logs while none is held.
    void showUpdateWidget();

    QWidget* updateWidget() const { return m_updateWidget; }
    // The update dialog, once the online update creates it; the caller keeps ownership.
    void setUpdateWidget(QWidget* widget) { m_updateWidget = widget; }

private:
    QPointer<QWidget> m_updateWidget;
};

// The one update state, created by the main window before the settings menu can be used.
extern overallVariate* g_overallVariate;
