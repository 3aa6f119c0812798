// libFuzzer entry for one reader of a user-supplied file (chosen at build time).
#include "readerharness.h"
#include "widget/qss.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
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
