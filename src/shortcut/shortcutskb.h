#pragma once
// The launcher panel: a frameless always-on-top window with one button per web, document or folder row.
#include <QIcon>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QVector>
#include <QWidget>

class QGridLayout;
class ShortcutsItem;

// A launcher button: an icon and a word-wrapped text side by side.
class CPushButton : public QPushButton {
    Q_OBJECT
public:
    explicit CPushButton(QWidget* parent = nullptr);
    ~CPushButton() override;
    void setIconPixmap(const QIcon& icon);
    void setText(const QString& text);
    QString text() const;
    QLabel* iconLabel() { return &m_icon; }
    QLabel* textLabel() { return &m_text; }

private:
    QLabel m_icon;
    QLabel m_text;
};

class ShortcutsKB : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutsKB(QWidget* parent = nullptr);
    ~ShortcutsKB() override;

    void addButtons(QList<ShortcutsItem*>* rows);
    void showAtDefaultPosition();
    void clearButtons();
    int buttonCount() const;
    const QVector<CPushButton*>& buttons() const { return *m_CButtonList; }
    static QString buttonToolTip(ShortcutsItem* row);
    // The label of a website button: the address's middle parts, a line break after every 12 characters.
    static QString websiteLabel(const QString& address);
    static QString productNameOf(const QString& path);
    // The program's product name from its version resource; false when there is none (always off Windows).
    static bool exeProductName(const QByteArray& path, QByteArray& name);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QGridLayout* m_grid = nullptr;
    QWidget* m_widget = nullptr;
    QVector<CPushButton*>* m_CButtonList = nullptr;
    bool m_pressed = false;
    int m_pressX = 0;
    int m_pressY = 0;
};
