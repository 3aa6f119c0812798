// libFuzzer entry for one reader of a user-supplied file (chosen at build time).
#include "readerharness.h"
#include "widget/qss.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifndef TESSARK_FUZZ_READER
#error "TESSARK_FUZZ_READER names the reader, e.g. FuzzReader::Config"
#endif

namespace {
QTemporaryDir* g_appDir = nullptr;

// The readers log every broken input; TESSARK_FUZZ_LOG shows it, to see how far an input got.
void quiet(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (qEnvironmentVariableIsSet("TESSARK_FUZZ_LOG"))
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

#if defined(TESSARK_FUZZ_TIMEOUT) && defined(TESSARK_FUZZ_RSS_MB)
// libFuzzer reads its flags after this entry returns: a run of this target not told otherwise stops at an
// input that takes longer than TESSARK_FUZZ_TIMEOUT seconds or more than TESSARK_FUZZ_RSS_MB of memory.
void addDefaultLimits(int* argc, char*** argv)
{
    static std::vector<std::string> limits;
    static std::vector<char*> args;
    for (const std::string& flag : {"-timeout=" + std::to_string(TESSARK_FUZZ_TIMEOUT),
                                    "-rss_limit_mb=" + std::to_string(TESSARK_FUZZ_RSS_MB)}) {
        const std::string name = flag.substr(0, flag.find('=') + 1);
        bool given = false;
        for (int i = 1; i < *argc; ++i)
            given = given || std::strncmp((*argv)[i], name.c_str(), name.size()) == 0;
        if (!given)
            limits.push_back(flag);
    }
    args.assign(*argv, *argv + *argc);
    for (std::string& flag : limits)
        args.push_back(&flag[0]);
    *argc = int(args.size());
    args.push_back(nullptr);
    *argv = args.data();
}
#endif
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
#if defined(TESSARK_FUZZ_TIMEOUT) && defined(TESSARK_FUZZ_RSS_MB)
    addDefaultLimits(argc, argv);
#endif
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv); // lives as long as the fuzzer
    qInstallMessageHandler(quiet);
    g_appDir = new QTemporaryDir;
    if (!g_appDir->isValid())
        std::abort();
    setAppDirPathForTest(g_appDir->path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString fault = runFuzzReader(TESSARK_FUZZ_READER, g_appDir->path(),
                                        QByteArray(reinterpret_cast<const char*>(data), int(size)));
    // The reader returned, but its answer is wrong: the fuzzer keeps this input as a crash.
    if (!fault.isEmpty()) {
        std::fprintf(stderr, "reader answer broken: %s\n", qPrintable(fault));
        std::abort();
    }
    return 0;
}
