// The one record of the run, with the package's build-time constants as its
// initial values. Constant-initialised: setup.exe has no run-time library
// to run constructors.
#include "setup.h"
#include "texts.h"

SetupState g_setup = {
    0,                      // instance
    PRODUCT_FOLDER_NAME,    // productFolderName
    FALLBACK_FOLDER,        // defaultFolder
    DEFAULT_GROUP_NAME,     // groupName
    REQUIRED_KILOBYTES,     // requiredKilobytes
    EXTRA_FILE_COUNT,       // extraFileCount
    "", "", "", "",         // installFolder, programsFolder, groupFolder, logPath
    "", "", "", "", "",     // startup, desktop and run strings
    "",                     // uninstallerName
    "",                     // displayName
    0, 0, 0,                // payloadTotal, progress, linkCount
    0,                      // agreementText
};

const PageEntry PageTable[PAGE_COUNT] = {
    {IDD_WELCOME, WelcomePageProc},
    {IDD_AGREEMENT, AgreementPageProc},
    {IDD_DESTINATION, DestinationPageProc},
    {IDD_GROUP, GroupPageProc},
    {IDD_COPYING, CopyingPageProc},
    {IDD_FINISH, FinishPageProc},
};
