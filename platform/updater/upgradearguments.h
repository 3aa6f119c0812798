#pragma once
// Checks the updater's command line and gives the paths it may work on.
#include "upgradelog.h"

#include <QString>
#include <QStringList>

struct UpgradeArguments {
    int expectedFiles = 0; // downloaded tool files the tool counted (files of the updater excluded)
    QString appDir;        // canonical application folder, without a trailing '/'
    QString toolName;      // file name of the tool's executable
    QString toolPath;      // appDir + '/' + toolName
    QString stagedDir;     // staged tool files below appDir, canonical when it exists, no trailing '/'
    QString stagedRelative; // stagedDir below the application folder ("/"-separated)
    bool chinese = false;  // language value 0
};

class UpgradeArgumentCheck {
public:
    static constexpr int Count = 7; // after the program name

    // arguments as QCoreApplication::arguments() gives them (the program first). False, with the reason
    // in why, for anything but "upgrade", a count, an existing application folder (arguments 3 and 6,
    // the same text), a plain file name and a staged folder inside the application folder that is not
    // a link; a staged folder that does not exist is accepted (nothing was staged).
    static bool check(const QStringList& arguments, UpgradeArguments* out, UpgradeText* why);

    // The language argument alone, so a refusal can be logged in it: "0" is Chinese, all else English.
    static bool isChinese(const QStringList& arguments);
};
