// The disabled ("-ban") button images of the light pages: each must read as fainter than the enabled
// image it stands in for, or a disabled button looks more active than an enabled one.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>

namespace {

// The folders of the pages drawn on white.
const QStringList LightPages = {QStringLiteral("setting"), QStringLiteral("shortcut"), QStringLiteral("macro")};

double linear(double channel)
{
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c)
{
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

// The luminance of every stroke and fill colour the image draws with; false when it does not parse.
bool paintLuminances(const QString& path, QList<double>* out)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        QStringList values;
        for (const char* name : {"stroke", "fill", "stop-color"})
            values << xml.attributes().value(QLatin1String(name)).toString();
        // Colours may also come in a style attribute: "stroke:#abc; fill:none".
        for (const QString& rule : xml.attributes().value(QLatin1String("style")).toString().split(QLatin1Char(';'))) {
            const QString property = rule.section(QLatin1Char(':'), 0, 0).trimmed();
            if (property == QLatin1String("stroke") || property == QLatin1String("fill")
                || property == QLatin1String("stop-color"))
                values << rule.section(QLatin1Char(':'), 1);
        }
        for (const QString& value : qAsConst(values)) {
            const QColor colour(value.trimmed()); // invalid for "none" and "currentColor"
            if (colour.isValid())
                out->append(luminance(colour));
        }
    }
    return !xml.hasError();
}

} // namespace

class BanImages : public QObject {
    Q_OBJECT
private slots:
    void disabledImageIsLighterThanItsEnabledImage_data()
    {
        QTest::addColumn<QString>("ban");
        QTest::addColumn<QString>("enabled");
        const QString images = QFINDTESTDATA("../appdir/images");
        QVERIFY(!images.isEmpty());
        int rows = 0;
        for (const QString& page : LightPages) {
            const QDir dir(images + QLatin1Char('/') + page);
            for (const QString& name : dir.entryList({QStringLiteral("*-ban.svg")}, QDir::Files, QDir::Name)) {
                QString enabled = name;
                enabled.replace(QLatin1String("-ban.svg"), QLatin1String(".svg"));
                QTest::addRow("%s/%s", qPrintable(page), qPrintable(name))
                    << dir.filePath(name) << dir.filePath(enabled);
                ++rows;
            }
        }
        QVERIFY(rows > 0);
    }
    // Every colour of the disabled image is lighter than every colour of the enabled one.
    void disabledImageIsLighterThanItsEnabledImage()
    {
        QFETCH(QString, ban);
        QFETCH(QString, enabled);
        QVERIFY2(QFile::exists(enabled), qPrintable(enabled + " is missing"));
        QList<double> banned, normal;
        QVERIFY(paintLuminances(ban, &banned) && !banned.isEmpty());
        QVERIFY(paintLuminances(enabled, &normal) && !normal.isEmpty());
        const double darkestBanned = *std::min_element(banned.begin(), banned.end());
        const double lightestEnabled = *std::max_element(normal.begin(), normal.end());
        QVERIFY2(darkestBanned > lightestEnabled,
                 qPrintable(QString::asprintf("disabled %.3f, enabled %.3f", darkestBanned, lightestEnabled)));
    }
};

QTEST_GUILESS_MAIN(BanImages)
#include "test_banimages.moc"
