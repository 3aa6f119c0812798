#pragma once
// Makes a write past the file-size limit (ulimit -f, LimitFSIZE) fail like a full disk, instead of
// ending the process with SIGXFSZ in the middle of it.
namespace FileSizeLimit {

// Call once at start, before any file is written; the tool, the updater and the tests that run the
// tool's saves in their own process all do.
void failWritesInsteadOfSignal();

} // namespace FileSizeLimit
