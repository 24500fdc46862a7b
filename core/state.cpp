// The one record of the run. It starts zeroed, so it takes no room in the
// file; the package's build-time values are set first thing at start-up.
#include "setup.h"
#include "texts.h"

SetupState g_setup;

static constexpr bool SameText(const char* a, const char* b)
{
    return *a == *b && (!*a || SameText(a + 1, b + 1));
}

// Where the fallback folder ends in a backslash and the product's folder
// name, as the package makes it, that name is read from its end.
static constexpr size_t FALLBACK_NAME_AT =
    sizeof FALLBACK_FOLDER - sizeof PRODUCT_FOLDER_NAME;
static constexpr bool FALLBACK_ENDS_IN_NAME =
    sizeof FALLBACK_FOLDER > sizeof PRODUCT_FOLDER_NAME &&
    FALLBACK_FOLDER[FALLBACK_NAME_AT - 1] == '\\' &&
    SameText(FALLBACK_FOLDER + FALLBACK_NAME_AT, PRODUCT_FOLDER_NAME);

void InitialiseSetupState(HINSTANCE instance)
{
    SetupState* setup = &g_setup;
    HOLD_ADDRESS(setup);
    setup->instance = instance;
    const char* fallback = FALLBACK_FOLDER;
    setup->productFolderName =
        FALLBACK_ENDS_IN_NAME ? fallback + FALLBACK_NAME_AT : PRODUCT_FOLDER_NAME;
    CopyString(setup->defaultFolder, fallback);
    // Where the package names its group as its folder, the text set just
    // above is nearer than the literal.
    CopyString(setup->groupName, SameText(DEFAULT_GROUP_NAME, PRODUCT_FOLDER_NAME)
                                     ? setup->productFolderName
                                     : DEFAULT_GROUP_NAME);
}

static_assert(IDD_AGREEMENT == IDD_WELCOME + 1 && IDD_DESTINATION == IDD_WELCOME + 2 &&
                  IDD_GROUP == IDD_WELCOME + 3 && IDD_COPYING == IDD_WELCOME + 4 &&
                  IDD_FINISH == IDD_WELCOME + 5,
              "the pages' templates are found by their place");
const DLGPROC PageTable[PAGE_COUNT] = {
    WelcomePageProc, AgreementPageProc, DestinationPageProc,
    GroupPageProc,   CopyingPageProc,   FinishPageProc,
};
