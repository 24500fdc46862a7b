// A setup file damaged on its way is refused before anything is shown or
// written: one message box, exit code 1, and nothing made anywhere. A page
// that cannot be shown is told too, with a code of its own.
#include "wizard_support.h"

#include "../damage.h"

#include <algorithm>

using namespace wiz;

namespace {

const wchar_t DAMAGED_TEXT[] =
    L"Файл программы установки поврежден, установка невозможна.\n"
    L"Получите программу установки заново.";

// What an installation would leave outside the folder the test owns.
struct MachineState {
    bool defaultFolder, group, uninstallEntry, fileType;

    static MachineState Now()
    {
        return {Exists(SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Murmelist"),
                Exists(SpecialFolder(CSIDL_PROGRAMS) + L"\\Murmelist"),
                RegistryKeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY),
                RegistryKeyExists(HKEY_CLASSES_ROOT, L".vdb")};
    }
    bool operator==(const MachineState& o) const
    {
        return defaultFolder == o.defaultFolder && group == o.group &&
               uninstallEntry == o.uninstallEntry && fileType == o.fileType;
    }
};

// The setup's own bytes, as the build made them.
std::vector<unsigned char> SetupBytes()
{
    std::string bytes;
    EXPECT_TRUE(ui::ReadFileBytes(SetupExe(), &bytes));
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

std::wstring WriteCopy(const std::wstring& folder, const std::vector<unsigned char>& bytes)
{
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\setup.exe";
    EXPECT_TRUE(ui::WriteFileBytes(path, std::string(bytes.begin(), bytes.end())));
    return path;
}

// A copy carrying bytes behind its image, as a signed setup carries its
// signature, with the sum set over them as signing sets it: a good file.
std::vector<unsigned char> WithTail(std::vector<unsigned char> bytes)
{
    bytes.insert(bytes.end(), 1024, 0x5A);
    uint32_t field = 0, sum = 0;
    EXPECT_TRUE(FindChecksumField(bytes.data(), (uint32_t)bytes.size(), &field) &&
                ComputeImageChecksum(bytes.data(), (uint32_t)bytes.size(), &sum));
    for (int i = 0; i < 4; ++i) bytes[field + i] = (unsigned char)(sum >> (8 * i));
    return bytes;
}

struct Case {
    std::string name;
    std::vector<unsigned char> bytes;
    // A file cut inside its image is refused by the system's loader itself
    // ("not a valid Win32 application"), before any of the setup runs.
    bool loaderRefuses;
};

std::vector<Case> DamagedCopies(const std::vector<unsigned char>& good)
{
    std::vector<Case> cases;
    for (int kind = 0; kind < DAMAGE_KINDS; ++kind) {
        Case c{NameDamage((DamageKind)kind), good, kind == DAMAGE_CUT};
        EXPECT_TRUE(DamageImage(&c.bytes, (DamageKind)kind)) << c.name;
        cases.push_back(c);
    }
    // A file whose builder never set the sum: nothing vouches for it.
    Case unsummed{"no sum", good, false};
    uint32_t field = 0;
    EXPECT_TRUE(FindChecksumField(good.data(), (uint32_t)good.size(), &field));
    for (int i = 0; i < 4; ++i) unsummed.bytes[field + i] = 0;
    cases.push_back(unsummed);
    // Cut short inside what lies behind the image: the loader takes it.
    Case tailCut{"cut behind the image", WithTail(good), false};
    tailCut.bytes.resize(tailCut.bytes.size() - 512);
    cases.push_back(tailCut);
    return cases;
}

}  // namespace

TEST(Damaged, EveryDamageIsRefusedBeforeAnythingIsShownOrMade)
{
    const std::vector<unsigned char> good = SetupBytes();
    ASSERT_FALSE(good.empty());
    const MachineState before = MachineState::Now();
    for (const Case& c : DamagedCopies(good)) {
        SCOPED_TRACE(c.name);
        // The copy sits alone in its folder, which is also its current
        // folder: whatever it made would show there.
        const std::wstring folder = TestRoot() + L"\\" + UniqueName(L"damaged");
        Leftovers leftovers{{folder}};
        ui::Launch launch;
        launch.program = WriteCopy(folder, c.bytes);
        launch.currentDirectory = folder;
        launch.environment.push_back(NoHostMenus());
        ui::Process setup;
        std::wstring error;
        const bool started = ui::Start(launch, &setup, &error);
        if (c.loaderRefuses) {
            EXPECT_FALSE(started) << "the system started a file cut inside its image";
            const std::wstring badFormat = L"error " + std::to_wstring(ERROR_BAD_EXE_FORMAT);
            EXPECT_EQ(error.substr(error.size() - std::min(error.size(), badFormat.size())),
                      badFormat);
        } else {
            ASSERT_TRUE(started) << ui::Narrow(error);
            ui::MessageBoxInfo box;
            ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box)) << "no message";
            EXPECT_EQ(box.caption, ERROR_CAPTION);
            EXPECT_EQ(box.text, DAMAGED_TEXT);
            EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
            EXPECT_FALSE(box.hasIcon);
            EXPECT_EQ(box.owner, nullptr);
            EXPECT_FALSE(ui::FindPage(setup.id, WELCOME)) << "a page showed";
            ASSERT_TRUE(ui::Answer(box.window, IDOK));
            DWORD code = 0;
            ASSERT_TRUE(ui::WaitForExit(setup, ui::WAIT_MS, &code));
            EXPECT_EQ(code, 1u);
        }
        std::vector<std::wstring> entries = EntriesStartingWith(folder, L"");
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(entries, (std::vector<std::wstring>{L".", L"..", L"setup.exe"}));
        EXPECT_TRUE(MachineState::Now() == before) << "something was installed";
    }

    // Undamaged copies, with and without a tail, start as usual.
    for (const std::vector<unsigned char>& bytes : {good, WithTail(good)}) {
        const std::wstring folder = TestRoot() + L"\\" + UniqueName(L"undamaged");
        Leftovers leftovers{{folder}};
        ui::Process setup;
        HWND welcome = StartSetup(&setup, {}, folder, WriteCopy(folder, bytes));
        ASSERT_TRUE(welcome);
        LeaveWizard(setup, welcome);
    }
}

// A setup whose first page cannot be made (a template naming a control the
// system has no class for, in a file whose sum is right: a build gone
// wrong, not a download) says so and ends with a code of its own, never 0.
TEST(Damaged, APageThatCannotBeShownIsToldAndNeverEndsWithZero)
{
    std::vector<unsigned char> bytes = SetupBytes();
    PeHeaders headers;
    uint32_t offset = 0, length = 0;
    ASSERT_TRUE(ReadPeHeaders(bytes.data(), (uint32_t)bytes.size(), &headers));
    ASSERT_TRUE(FindPeResource(bytes.data(), (uint32_t)bytes.size(), &headers, PE_RESOURCE_DIALOG,
                               IDD_WELCOME, PE_ANY_LANGUAGE, &offset, &length));
    // The first control's class, the button's ordinal 0x0080, becomes one
    // that no class has.
    const unsigned char button[] = {0xFF, 0xFF, 0x80, 0x00};
    auto found = std::search(bytes.begin() + offset, bytes.begin() + offset + length,
                             std::begin(button), std::end(button));
    ASSERT_NE(found, bytes.begin() + offset + length);
    found[2] = 0x99;
    uint32_t field = 0, sum = 0;
    ASSERT_TRUE(FindChecksumField(bytes.data(), (uint32_t)bytes.size(), &field) &&
                ComputeImageChecksum(bytes.data(), (uint32_t)bytes.size(), &sum));
    for (int i = 0; i < 4; ++i) bytes[field + i] = (unsigned char)(sum >> (8 * i));

    const std::wstring folder = TestRoot() + L"\\" + UniqueName(L"nopage");
    Leftovers leftovers{{folder}};
    ui::Process setup;
    ui::Launch launch;
    launch.program = WriteCopy(folder, bytes);
    launch.currentDirectory = folder;
    std::wstring error;
    ASSERT_TRUE(ui::Start(launch, &setup, &error)) << ui::Narrow(error);
    ui::MessageBoxInfo box;
    ASSERT_TRUE(ui::WaitForMessageBox(setup.id, &box)) << "not told";
    EXPECT_EQ(box.caption, ERROR_CAPTION);
    EXPECT_EQ(box.text, L"Невозможно показать окно программы установки.");
    ASSERT_TRUE(ui::Answer(box.window, IDOK));
    DWORD code = 0;
    ASSERT_TRUE(ui::WaitForExit(setup, ui::WAIT_MS, &code));
    EXPECT_EQ(code, EXIT_NO_PAGE);
}
