// tessark-update-sim: local download and daytime servers for trying the online update without the net.
//   tessark-update-sim --root DIR --config FILE [--key KEY] [--daytime N]
//                      [--sample-tool VERSION] [--sample-firmware MODEL VERSION]
//                      [--hostile PATH gzip|deflate|raw|gzip-nolength|endless|chunked]...
// The samples are written into DIR first; without --config the tool stops after writing them.
// --hostile answers a request for PATH as a misbehaving server would: 1 GiB of zeros encoded (with its
// compressed length, or without), or a plain body of zeros that never ends (no length, or chunked).
#include "updatesamples.h"
#include "updateserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <QTimer>

#include <atomic>
#include <csignal>

namespace {

// Seven lower-case letters and 33 lower-case hex digits, as the tool's key is formed.
const char DefaultKey[] = "tessark5f1c0a9e3b7d24c68e0f1a2b3c4d5e6f7";
static_assert(sizeof(DefaultKey) == 41, "the signing key has 40 characters");

std::atomic<int> g_stopSignal{0};

void onStopSignal(int sig) { g_stopSignal = sig; }

QTextStream& err()
{
    static QTextStream s(stderr);
    return s;
}

int usage()
{
    err() << "usage: tessark-update-sim --root DIR [--config FILE] [--key KEY] [--daytime N]\n"
             "                          [--sample-tool VERSION] [--sample-firmware MODEL VERSION]\n"
             "                          [--hostile PATH gzip|deflate|raw|gzip-nolength|endless|chunked]...\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString root, config, toolVersion, model, firmwareVersion;
    QByteArray key = DefaultKey;
    int daytime = 1;
    QList<QPair<QString, QString>> hostile;
    const QStringList hostileKinds{"gzip", "deflate", "raw", "gzip-nolength", "endless", "chunked"};
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasOne = i + 1 < args.size();
        if (a == QLatin1String("--root") && hasOne)
            root = args[++i];
        else if (a == QLatin1String("--config") && hasOne)
            config = args[++i];
        else if (a == QLatin1String("--key") && hasOne)
            key = args[++i].toLatin1();
        else if (a == QLatin1String("--daytime") && hasOne)
            daytime = args[++i].toInt();
        else if (a == QLatin1String("--sample-tool") && hasOne)
            toolVersion = args[++i];
        else if (a == QLatin1String("--sample-firmware") && i + 2 < args.size()) {
            model = args[++i];
            firmwareVersion = args[++i];
        } else if (a == QLatin1String("--hostile") && i + 2 < args.size() && hostileKinds.contains(args[i + 2])) {
            hostile << qMakePair(args[i + 1], args[i + 2]);
            i += 2;
        } else
            return usage();
    }
    if (root.isEmpty() || daytime < 1 || daytime > 7 || key.isEmpty())
        return usage();
    if (!QDir().mkpath(root)) {
        err() << "cannot create " << root << "\n";
        return 1;
    }
    if (!toolVersion.isEmpty() && !sim::writeSampleTool(root, toolVersion)) {
        err() << "cannot write the tool's version file\n";
        return 1;
    }
    if (!model.isEmpty()) {
        // An offer above what a keyboard can report would come back after every upgrade.
        if (sim::keyboardVersionNumber(firmwareVersion) < 0) {
            err() << "firmware version " << firmwareVersion << " is not one a keyboard can report: a.b.c with b and c "
                     "single digits, 655.3.5 at most\n";
            return 2;
        }
        if (model.contains(QLatin1Char('/')) || model.contains(QLatin1String("..")) || !sim::writeSampleFirmware(root, model, firmwareVersion)) {
            err() << "cannot write the firmware files of " << model << "\n";
            return 1;
        }
    }
    if (config.isEmpty())
        return toolVersion.isEmpty() && model.isEmpty() ? usage() : 0;

    sim::UpdateServers servers(root, key, daytime);
    for (const auto& h : hostile) {
        constexpr qint64 GiB = qint64(1) << 30;
        if (h.second == QLatin1String("endless"))
            servers.generate(h.first, -1, -1);
        else if (h.second == QLatin1String("chunked"))
            servers.generateChunked(h.first);
        else if (h.second == QLatin1String("deflate"))
            servers.generateEncoded(h.first, sim::BodyEncoding::Deflate, GiB, true);
        else if (h.second == QLatin1String("raw"))
            servers.generateEncoded(h.first, sim::BodyEncoding::RawDeflate, GiB, true);
        else
            servers.generateEncoded(h.first, sim::BodyEncoding::Gzip, GiB, h.second == QLatin1String("gzip"));
    }
    if (!servers.start() || !servers.writeConfig(config)) {
        err() << "cannot start the servers or write " << config << "\n";
        return 1;
    }
    QTextStream out(stdout);
    out << "Download " << servers.downloadHost() << "\nTime " << servers.daytimeHosts().join(QLatin1Char(' '))
        << "\n";
    out.flush();

    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGINT, onStopSignal);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&app] {
        if (g_stopSignal)
            app.quit();
    });
    poll.start(100);
    return app.exec();
}
