#pragma once
// The key-map selector row of a key function row: one small checkable button per key map.
#include <QByteArray>
#include <QLabel>
#include <QVector>

class QPushButton;

class GlobuleLayout : public QLabel {
    Q_OBJECT
public:
    // A key map mask has eight bits: more selectors than that could not be stored.
    static constexpr int MaxGlobules = 8;

    GlobuleLayout(QWidget* parent, int count);
    ~GlobuleLayout() override;

    void createGlobules(int count);
    void initGlobules(const QVector<bool>& states, int width, int height);
    // Appends one character per button, '1' checked and '0' not.
    void states(QByteArray& target) const;
    const QVector<QPushButton*>& buttons() const { return m_buttons; }

signals:
    void emitGlobuleChange();

public slots:
    void globuleClickedSlot(bool checked);

private:
    QVector<QPushButton*> m_buttons;
};
