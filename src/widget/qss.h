#pragma once
// The look of the tool in one place: style sheets and fonts applied to a widget, and the application folder.
#include <QColor>
#include <QFont>
#include <QString>
#include <QVector>

class QCheckBox;
class QComboBox;
class QCursor;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QWidget;

// The folder beside the executable that holds config/, images/, font/, log/ and the keyboards' folders.
// Every reader takes it from here, so a test can point the whole tool at a temporary folder.
QString appDirPath();
// Tests only: an empty path returns to the executable's folder.
void setAppDirPathForTest(const QString& path);

// Registers the four font files of font/ on the first call of the process and maps the family
// "Consolas" to them; later calls only return the ids of that first registration. Needs a
// QGuiApplication; without one nothing is registered. Other widgets (the tab label) call it too.
QVector<int> registerAppFonts();

// A path as a style sheet's url: a quoted string with its own quotes, backslashes and line breaks escaped,
// since Qt refuses an unquoted url holding a letter such as é, and a quote or parenthesis would end it.
QString styleSheetUrl(const QString& path);

class Qss {
public:
    Qss();

    QString appDir() const { return m_appDir; }
    // The style sheet url of <app dir>/images/<folder><file>; folder is empty or ends in "/".
    QString imageUrl(const QString& folder, const QString& file) const;

    // Cursor states of setCursorStatus while the user paints keys; any other value unsets as CursorUnset.
    enum CursorStatus {
        CursorUnset = 0,
        CursorDown = 1,   // images/Cursor/down.svg, 26 x 33, hot spot (13, 16)
        CursorUp = 2,     // images/Cursor/up.svg, 26 x 33, hot spot (13, 16)
        CursorDelete = 3, // images/Cursor/del.svg, 26 x 33, hot spot (13, 16)
        CursorKeep = 4,   // the widget keeps whatever cursor it has
        CursorColor = 5,  // a solid 20 x 20 square of the colour, hot spot (10, 10)
        CursorMode = 6,   // images/Cursor/mode.svg, 26 x 26, hot spot (13, 13)
    };
    // The image at path scaled to width x height (aspect ignored); a missing image gives an empty cursor.
    QCursor svgCursor(const QString& path, int width, int height, int hotX, int hotY) const;
    // colour is read in CursorColor only: any text QColor::setNamedColor takes (invalid gives black).
    void setCursorStatus(QWidget* widget, int status, const QString& colour = QString()) const;

    void setGlobuleStyle(QPushButton* button, bool checked) const;
    void setGlobuleShowStyle(QPushButton* button, bool pressed) const;
    void setFlatButtonStyle(QPushButton* button, bool active) const;
    void setMenuStyle(QMenu* menu, const QColor& highlight, bool framedIndicator) const;
    void setOutlineButtonStyle(QPushButton* button, int pointSize, const QColor& text) const;
    void setHoverFillButtonStyle(QPushButton* button, const QColor& fill, bool withFill) const;
    void setLineEditStyle(QLineEdit* edit, bool framed, int pointSize, bool error, const QColor& text,
                          const QColor& border) const;
    void setCenteredLineEditStyle(QLineEdit* edit) const;
    void setGroupBoxStyle(QGroupBox* box, int radius) const;
    void setLabelStyle(QLabel* label, const QColor& colour, int pointSize, int weight) const;
    void setLinkLabelStyle(QLabel* label, int pointSize, const QColor& colour) const;
    void setListButtonStyle(QPushButton* button) const;
    // Takes the key cap as its QPushButton base.
    void setKeyButtonStyle(QPushButton* keyBtn, bool normal, bool clearBorder) const;
    void setColorSwatchStyle(QPushButton* button, const QColor& colour, int alpha) const;
    void setAccentButtonStyle(QPushButton* button, int pointSize, int weight, const QString& text) const;
    void setIconButtonStyle(QPushButton* button, const QString& imagePath) const;
    void setHorizontalSliderStyle(QSlider* slider, int variant) const;
    void setVerticalSliderStyle(QSlider* slider, int variant) const;
    void setComboBoxStyle(QComboBox* box, int pointSize, bool framed) const;
    void setImageButtonStyle(QPushButton* button, QString normal, QString hover, QString folder, QString pressed,
                             bool framed) const;
    void setCursorButtonStyle(QPushButton* button, const QString& image) const;
    void setMacroButtonStyle(QPushButton* button, const QString& normal, const QString& hover) const;
    void setSettingButtonStyle(QPushButton* button, const QString& normal, const QString& hover) const;
    void setShortcutButtonStyle(QPushButton* button, const QString& normal, const QString& hover) const;
    void setColorLineEditStyle(QLineEdit* edit, const QColor& border) const;
    void setImageLineEditStyle(QLineEdit* edit, QString folder, const QString& image, int pointSize,
                               const QColor& text) const;
    void setBorderLineEditStyle(QLineEdit* edit, const QColor& background, const QColor& border, int width,
                                const QString& family, int pointSize, const QColor& text) const;
    // The frame's sheet for both marks, with none shown yet: set it before the frame has children.
    void prepareFrameSelectStyle(QFrame* frame, int radius) const;
    void setFrameSelectStyle(QFrame* frame, bool selected, int radius) const;
    void setImageLabelStyle(QLabel* label, QString folder, const QString& normal, QString hover) const;
    void setTextLabelStyle(QLabel* label, int pointSize, const QColor& colour, int weight) const;
    void setTextLabelStyle2(QLabel* label, int pointSize, int weight, const QColor& colour) const;
    void setImageTextLabelStyle(QLabel* label, const QString& folder, const QString& image, int pointSize,
                                const QColor& text) const;
    void setLabelBackground(QLabel* label, const QColor& colour) const;
    void setCheckBoxStyle(QCheckBox* box, QString folder, const QString& image, int pointSize,
                          const QColor& indicatorBorder, const QColor& text) const;
    void setWarnButtonStyle(QPushButton* button, bool warn) const;
    void setBorderButtonStyle(QPushButton* button, const QFont& font, const QString& textColour,
                              const QString& borderColour, int radius, int width) const;

    QString frameButtonStyleSheet(bool bordered) const;
    QString roundedFrameStyleSheet(const QString& objectName) const;
    QString widgetBackgroundStyleSheet(const QString& objectName, const QColor& colour) const;
    QString colorButtonStyleSheet(const QColor& colour) const;
    QString triangleStyleSheet() const;

private:
    QString m_appDir;
};
