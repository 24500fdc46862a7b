// The one record of the run. It starts zeroed, so it takes no room in the
// file; the package's build-time values are set first thing at start-up.
#include "setup.h"
#include "texts.h"

SetupState g_setup;

void InitialiseSetupState(HINSTANCE instance)
{
    g_setup.instance = instance;
    g_setup.productFolderName = PRODUCT_FOLDER_NAME;
    CopyString(g_setup.defaultFolder, FALLBACK_FOLDER);
    CopyString(g_setup.groupName, DEFAULT_GROUP_NAME);
    g_setup.requiredKilobytes = REQUIRED_KILOBYTES;
    g_setup.extraFileCount = EXTRA_FILE_COUNT;
}

const PageEntry PageTable[PAGE_COUNT] = {
    {IDD_WELCOME, WelcomePageProc},
    {IDD_AGREEMENT, AgreementPageProc},
    {IDD_DESTINATION, DestinationPageProc},
    {IDD_GROUP, GroupPageProc},
    {IDD_COPYING, CopyingPageProc},
    {IDD_FINISH, FinishPageProc},
};
