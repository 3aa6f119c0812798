#pragma once
// A key event chip of the macro editor: the key code it stands for and the texts it shows.
#include <QString>
#include <QWidget>
#include <cstdint>

class Key : public QWidget {
public:
    explicit Key(QWidget* parent = nullptr) : QWidget(parent) {}

    uint16_t code() const { return m_code; }
    uint16_t type() const { return m_type; }
    uint16_t stype() const { return m_stype; }
    void setKeyCode(uint16_t type, uint16_t stype, uint16_t code)
    {
        m_type = type;
        m_stype = stype;
        m_code = code;
    }

    void setKeyInfo(const QString& name, const QString& alias, const QString& image)
    {
        m_name = name;
        m_alias = alias;
        m_image = image;
        update();
    }
    QString name() const { return m_name; }
    QString alias() const { return m_alias; }
    QString image() const { return m_image; }

private:
    uint16_t m_code = 0;
    uint16_t m_type = 0;
    uint16_t m_stype = 0;
    QString m_name;
    QString m_alias;
    QString m_image;
};
