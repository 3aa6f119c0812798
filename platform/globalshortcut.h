#pragma once
// A system-wide hot key (Control plus one key): activated() on the GUI thread for every press anywhere.
#include <QKeySequence>
#include <QObject>

#include <memory>

class GlobalShortcut : public QObject {
    Q_OBJECT
public:
    // Grabs the key at once; a grab the system refuses is logged once and leaves the hot key inactive.
    GlobalShortcut(const QKeySequence& sequence, QObject* parent = nullptr);
    ~GlobalShortcut() override; // releases the grab
    QKeySequence shortcut() const { return m_sequence; }
    bool isActive() const;
    // Tests: as if the key had been pressed.
    void triggerForTest() { emit activated(); }
    class Backend;

signals:
    void activated();

private:
    QKeySequence m_sequence;
    std::unique_ptr<Backend> m_backend;
};
