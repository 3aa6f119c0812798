#pragma once
// The program's start: one copy per user, the start mode from the command line, the main window.

int qMain(int argc, char** argv);
