// The update dialog's text from the server: texts built to be costly, each at the size bound, and an
// ordinary release note, each put into the dialog's tool text area, laid out and painted as the dialog
// shows it. Prints the CPU time and the growth of resident memory for each.
// Usage: bench_servertext [runs]: the CPU time is the median of runs (5), the memory the largest growth.
// Goal: under 50 ms of CPU and 10 MB each. Fails when a text costs more than 4 times that (a cost that
// grows faster than the text, not a busy machine), or when the ordinary note loses its bold, its list or
// its table in a table.
#include "tempappdir.h"
#include "memoryuse.h"

#include "Update/downloadfile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "Update/servertext.h"
#include "setting/Language.h"
#include "widget/qss.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr double GoalMs = 50;
constexpr double GoalMb = 10;
constexpr double Margin = 4;

const QString OrdinaryNote = QStringLiteral(
    "<h3>What is new in 1.0.4</h3>"
    "<p>This release brings <b>faster lighting</b> and a few fixes.</p>"
    "<ul><li>Macros keep their delays</li><li><i>Fixed:</i> the tray icon after sleep</li></ul>"
    "<table border=1><tr><th>Model</th><th>Firmware</th></tr>"
    "<tr><td>TK87</td><td><table><tr><td>USB</td><td>1.2.0</td></tr><tr><td>Bluetooth</td><td>2.0.1</td></tr>"
    "</table></td></tr></table>"
    "<p><font color=\"#c00000\">Keep the keyboard plugged in while it upgrades.</font></p>");

// head, then unit repeated up to the size bound, then tail.
QString atBound(const QString& head, const QString& unit, const QString& tail = QString())
{
    const int room = ServerText::MaxChars - head.size() - tail.size();
    return head + unit.repeated(room / unit.size()) + tail;
}

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The deepest nesting of tables, walked without recursion.
int tableDepth(QTextFrame* root)
{
    std::vector<std::pair<QTextFrame*, int>> pending{{root, 0}};
    int deepest = 0;
    while (!pending.empty()) {
        const auto step = pending.back();
        pending.pop_back();
        const int depth = step.second + (qobject_cast<QTextTable*>(step.first) ? 1 : 0);
        deepest = std::max(deepest, depth);
        for (QTextFrame* child : step.first->childFrames())
            pending.emplace_back(child, depth);
    }
    return deepest;
}

bool hasBoldAndList(const QTextDocument* document)
{
    bool bold = false, list = false;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        list = list || block.textList();
        for (auto it = block.begin(); !it.atEnd(); ++it)
            bold = bold || it.fragment().charFormat().fontWeight() >= QFont::Bold;
    }
    return bold && list;
}

// A version file's text as the tool reads it: through QSettings, as UTF-8.
QString fromVersionFile(const TempAppDir& dir, const QByteArray& value)
{
    const QString path = dir.filePath(QStringLiteral("version.ini"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write("[TessarkVersion]\nVersion=9.0.0\nEnglishUpdateInfo=" + value + "\n");
    file.close();
    DownloadFile reader;
    return reader.ReadTessarkSettings(path).value(1);
}

struct Row {
    QString name;
    QString text;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("TESSARK_UPDATE_CONFIG"); // no server
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    TempAppDir dir;
    if (!dir.isValid())
        return 1;
    setAppDirPathForTest(dir.path());
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); // every text is logged

    g_language = new Language;
    g_language->setLanguageType(1);
    auto* hub = new overallVariate;
    g_overallVariate = hub;
    hub->createUpdateWidget();
    g_language->emitLanguageChange();
    onlineUpdate* dialog = hub->updateWidget();
    dialog->show();
    dialog->findChild<QFrame*>(QStringLiteral("frame_TessarkUpdate"))->show();
    QTextEdit* edit = dialog->findChild<QTextEdit*>(QStringLiteral("textEdit_TessarkUpdate"));
    QCoreApplication::processEvents();

    std::vector<Row> rows;
    const std::vector<std::pair<const char*, const char*>> kinds{
        {"div", "<div>"}, {"span", "<span>"}, {"p", "<p>"}, {"b", "<b>"}, {"font", "<font color=red>"},
        {"li", "<ul><li>"}, {"td", "<table><tr><td>"}};
    for (const auto& kind : kinds) {
        const QString sheet = QStringLiteral("<style>q %1 { color: red }</style>What is new").arg(kind.first);
        rows.push_back({QStringLiteral("style sheet, nested <%1>").arg(kind.first), atBound(sheet, kind.second)});
    }
    rows.push_back({"cells with colspan=1000000",
                    atBound("What is new<table>", "<tr><td colspan=1000000>x</td></tr>", "</table>")});
    rows.push_back({"cells with width and padding", atBound("What is new<table cellpadding=100000>",
                                                            "<tr><td width=100000 rowspan=100000>x</td></tr>", "</table>")});
    rows.push_back({"tables nested deep", atBound("What is new", "<table><tr><td>")});
    rows.push_back({"lists nested deep", atBound("What is new", "<ul><li>")});
    rows.push_back({"one long word", atBound("<p>What is new ", "x", "</p>")});
    rows.push_back({"one long word, tables 4 deep", atBound(QString("<table><tr><td>").repeated(4) + "What ", "x")});
    rows.push_back({"thousands of <b>", atBound("What is new", "<b>x</b>")});
    rows.push_back({"thousands of <p>", atBound("What is new", "<p>x</p>")});
    rows.push_back({"thousands of <li>", atBound("What is new<ol>", "<li>x")});
    rows.push_back({"thousands of cells in a row", atBound("What is new<table><tr>", "<td>x")});
    rows.push_back({"thousands of rows", atBound("What is new<table>", "<tr><td>x<td>y")});
    rows.push_back({"thousands of unknown tags", atBound("What is new", "<x a=1>")});
    rows.push_back({"comments left open", atBound("What is new", "<!--")});
    rows.push_back({"style sheets left open", atBound("What is new", "<style>x")});
    rows.push_back({"quotes and tags left open", atBound("What is new", "<p a=\"x<b")});
    rows.push_back({"entities", atBound("<p>What is new ", "&amp;&#x1F600;&#0;&bogus;&#99999999;&nbsp", "</p>")});
    QByteArray invalid = "<p>What is new ";
    while (invalid.size() < ServerText::MaxChars - 16)
        invalid += "\xff\xfe\xc3\x28\xed\xa0\x80\xf4\x90\x80\x80";
    rows.push_back({"invalid UTF-8", fromVersionFile(dir, invalid)});
    rows.push_back({"ordinary release note", OrdinaryNote});

    // Fonts and caches once, before anything is measured.
    dialog->setTessarkUpdateInfoSlot(OrdinaryNote);
    dialog->grab();

    std::printf("%-34s %7s %10s %14s\n", "text (tool text area)", "chars", "CPU ms", "RSS growth MB");
    bool failed = false;
    for (const Row& row : rows) {
        std::vector<double> ms;
        double growthMb = 0;
        for (int run = 0; run < runs; ++run) {
            dialog->setTessarkUpdateInfoSlot(QString());
            QCoreApplication::processEvents();
            const qint64 before = memoryuse::residentBytes();
            memoryuse::resetPeak();
            const double start = cpuMs();
            dialog->setTessarkUpdateInfoSlot(row.text);
            dialog->grab(); // laid out at the text area's width and painted
            ms.push_back(cpuMs() - start);
            growthMb = std::max(growthMb, double(memoryuse::peakResidentBytes() - before) / (1024 * 1024));
        }
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        const bool over = median > Margin * GoalMs || growthMb > Margin * GoalMb;
        failed = failed || over;
        const char* mark = over ? "   FAILED: over 4 x the goal" : median > GoalMs || growthMb > GoalMb ? "   over the goal" : "";
        std::printf("%-34s %7d %10.1f %14.1f%s\n", qPrintable(row.name), row.text.size(), median, growthMb, mark);
        std::fflush(stdout);
    }

    dialog->setTessarkUpdateInfoSlot(OrdinaryNote);
    const int depth = tableDepth(edit->document()->rootFrame());
    if (!hasBoldAndList(edit->document()) || depth != 2) {
        std::printf("FAILED: the ordinary note lost its formatting (bold and list: %d, tables %d deep)\n",
                    hasBoldAndList(edit->document()), depth);
        failed = true;
    }
    std::printf("goal: each under %.0f ms of CPU and %.0f MB; a row fails past %.0f times that\n", GoalMs, GoalMb,
                Margin);
    delete g_language;
    g_language = nullptr;
    delete hub;
    g_overallVariate = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return failed ? 1 : 0;
}
