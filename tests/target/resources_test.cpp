// Reads the linked setup.exe back as a data file and checks what it carries:
// exactly the expected resources, every page template control by control,
// the package data byte for byte, and the icon.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "resources/ids.h"

namespace {

// The build hands us Linux paths; Wine sees the Linux root as drive Z:.
std::string WinePath(const std::string& path) {
    std::string result = "Z:" + path;
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

std::string ReadWholeFile(const std::string& linuxPath) {
    std::ifstream in(WinePath(linuxPath), std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot open " << linuxPath;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const WORD kRussian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);         // 1049
const WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);      // 1033

class SetupExe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryExA(WinePath(SETUP_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(module_, nullptr) << "cannot load " << SETUP_EXE; }

    // The bytes of one resource in one language; empty when it is missing.
    static std::string Resource(LPCSTR type, int id, WORD language) {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), language);
        if (!found) return std::string();
        HGLOBAL loaded = LoadResource(module_, found);
        const char* bytes = static_cast<const char*>(LockResource(loaded));
        return bytes ? std::string(bytes, SizeofResource(module_, found)) : std::string();
    }

    // Looked up the way the setup program does it: by id and type only.
    static std::string Data(int id) {
        HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
        if (!found) return std::string();
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module_, found)));
        return bytes ? std::string(bytes, SizeofResource(module_, found)) : std::string();
    }

    static HMODULE module_;
};

HMODULE SetupExe::module_ = nullptr;

// --- Inventory -----------------------------------------------------------

// A type or name as text: "#5" for a number, the name itself otherwise.
std::string IdText(LPCSTR id) {
    if (IS_INTRESOURCE(id)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(id));
    return id;
}

using ResourceKey = std::tuple<std::string, std::string, int>;  // type, name, language

struct Inventory {
    std::set<ResourceKey> keys;
    std::string type;
    std::string name;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
    Inventory* inventory = reinterpret_cast<Inventory*>(param);
    inventory->keys.insert(ResourceKey(inventory->type, inventory->name, language));
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
    Inventory* inventory = reinterpret_cast<Inventory*>(param);
    inventory->name = IdText(name);
    EnumResourceLanguagesA(module, type, name, CollectLanguage, param);
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR param) {
    Inventory* inventory = reinterpret_cast<Inventory*>(param);
    inventory->type = IdText(type);
    EnumResourceNamesA(module, type, CollectName, param);
    return TRUE;
}

TEST_F(SetupExe, CarriesExactlyThePackageResources) {
    Inventory inventory;
    EnumResourceTypesA(module_, CollectType, reinterpret_cast<LONG_PTR>(&inventory));

    const std::set<ResourceKey> expected = {
        {"#5", "#104", kRussian}, {"#5", "#105", kRussian}, {"#5", "#106", kRussian},
        {"#5", "#107", kRussian}, {"#5", "#108", kRussian}, {"#5", "#109", kRussian},
        {"#10", "#110", kRussian}, {"#10", "#114", kRussian}, {"#10", "#118", kRussian},
        {"#10", "#119", kRussian}, {"#10", "#122", kRussian},
        {"#3", "#1", kEnglish},
        {"#14", "#103", kEnglish},
    };
    std::ostringstream found;
    for (const ResourceKey& key : inventory.keys)
        found << std::get<0>(key) << "/" << std::get<1>(key) << "/" << std::get<2>(key) << " ";
    EXPECT_EQ(inventory.keys, expected) << "found: " << found.str();

    // Spelled out, since these are what toolchains add on their own.
    for (const ResourceKey& key : inventory.keys) {
        const std::string& type = std::get<0>(key);
        EXPECT_NE(type, "#24") << "manifest";
        EXPECT_NE(type, "#16") << "version record";
        EXPECT_NE(type, "#6") << "string table";
        EXPECT_NE(type, "#4") << "menu";
    }
}

// --- Page templates --------------------------------------------------------

// A class, menu or text field: a 16-bit ordinal or a string.
struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring name;
};

struct ControlTemplate {
    DWORD helpId, exStyle, style;
    short x, y, cx, cy;
    int32_t id;
    NameOrOrdinal windowClass, text;
    WORD extraBytes;
};

struct PageTemplate {
    WORD version, signature;
    DWORD helpId, exStyle, style;
    WORD count;
    short x, y, cx, cy;
    NameOrOrdinal menu, windowClass;
    std::wstring title;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring face;
    std::vector<ControlTemplate> controls;
    size_t end;  // where the last control ends
};

// Walks the template bytes; every read is checked against the size, so a
// malformed template fails the parse instead of reading beyond it.
class TemplateReader {
public:
    explicit TemplateReader(const std::string& bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    size_t offset() const { return offset_; }
    void Align() { offset_ = (offset_ + 3) & ~size_t(3); }

    template <typename T> T Read() {
        T value{};
        if (offset_ + sizeof(T) > bytes_.size()) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }

    std::wstring ReadString() {
        std::wstring text;
        for (;;) {
            WORD unit = Read<WORD>();
            if (!ok_ || unit == 0) return text;
            text.push_back(static_cast<wchar_t>(unit));
        }
    }

    NameOrOrdinal ReadNameOrOrdinal() {
        NameOrOrdinal field;
        if (offset_ + 2 <= bytes_.size() && static_cast<unsigned char>(bytes_[offset_]) == 0xFF &&
            static_cast<unsigned char>(bytes_[offset_ + 1]) == 0xFF) {
            offset_ += 2;
            field.isOrdinal = true;
            field.ordinal = Read<WORD>();
        } else {
            field.name = ReadString();
        }
        return field;
    }

private:
    const std::string& bytes_;
    size_t offset_ = 0;
    bool ok_ = true;
};

bool ParsePage(const std::string& bytes, PageTemplate* page) {
    TemplateReader in(bytes);
    page->version = in.Read<WORD>();
    page->signature = in.Read<WORD>();
    page->helpId = in.Read<DWORD>();
    page->exStyle = in.Read<DWORD>();
    page->style = in.Read<DWORD>();
    page->count = in.Read<WORD>();
    page->x = in.Read<short>();
    page->y = in.Read<short>();
    page->cx = in.Read<short>();
    page->cy = in.Read<short>();
    page->menu = in.ReadNameOrOrdinal();
    page->windowClass = in.ReadNameOrOrdinal();
    page->title = in.ReadString();
    // The font fields are there only with DS_SETFONT.
    if (page->style & DS_SETFONT) {
        page->pointSize = in.Read<WORD>();
        page->weight = in.Read<WORD>();
        page->italic = in.Read<BYTE>();
        page->charset = in.Read<BYTE>();
        page->face = in.ReadString();
    }
    for (int i = 0; i < page->count && in.ok(); ++i) {
        in.Align();
        ControlTemplate control;
        control.helpId = in.Read<DWORD>();
        control.exStyle = in.Read<DWORD>();
        control.style = in.Read<DWORD>();
        control.x = in.Read<short>();
        control.y = in.Read<short>();
        control.cx = in.Read<short>();
        control.cy = in.Read<short>();
        control.id = in.Read<int32_t>();
        control.windowClass = in.ReadNameOrOrdinal();
        control.text = in.ReadNameOrOrdinal();
        control.extraBytes = in.Read<WORD>();
        for (WORD skip = 0; skip < control.extraBytes; ++skip) in.Read<BYTE>();
        page->controls.push_back(control);
    }
    page->end = in.offset();
    return in.ok();
}

// Styles of the controls, spelled from their parts.
const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kPushButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD kGroupBox = kChild | BS_GROUPBOX;
const DWORD kTextGroup = kChild | WS_GROUP | SS_LEFT;
const DWORD kCheckBox = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
const DWORD kLineEdit = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;

const WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082, kListBox = 0x0083;

struct ExpectedControl {
    int id;
    WORD classAtom;         // 0 when the class is given by name
    const wchar_t* className;
    DWORD style, exStyle;
    short x, y, cx, cy;
    const wchar_t* text;
};

struct ExpectedPage {
    int id;
    const wchar_t* title;
    std::vector<ExpectedControl> controls;
};

// The common frame's controls, in the place each page lists them.
const ExpectedControl kNext = {IDC_NEXT, kButton, nullptr, kPushButton, 0, 183, 165, 50, 14, L"&Далее>"};
const ExpectedControl kFrame = {IDC_FRAME, kButton, nullptr, kGroupBox, WS_EX_DLGMODALFRAME,
                                53, 7, 240, 150, L""};
const ExpectedControl kCancel = {IDC_CANCEL, kButton, nullptr, kPushButton, 0, 243, 165, 50, 14, L"Отмена"};
const ExpectedControl kBack = {IDC_BACK, kButton, nullptr, kPushButton, 0, 123, 165, 50, 14, L"< &Назад"};

std::vector<ExpectedPage> ExpectedPages() {
    ExpectedControl disabledNext = kNext;
    disabledNext.style |= WS_DISABLED;
    return {
        {IDD_WELCOME, L"Добро пожаловать", {
            kNext, kFrame, kCancel,
            {-1, kStatic, nullptr, kTextGroup, 0, 61, 16, 222, 52,
             L"  Добро пожаловать в программу установки Murmelist 2.0\n\n"
             L"  Эта программа должна установить Murmelist 2.0 на ваш компьютер.\n\n"
             L"  Рекомендуется закрыть все работающие программы Windows."},
            {-1, kStatic, nullptr, kTextGroup, 0, 61, 70, 222, 20,
             L"  Если у вас установлена предыдущая версия Murmelist, то ее\n"
             L"необходимо удалить перед установкой."},
        }},
        {IDD_AGREEMENT, L"Лицензионное соглашение", {
            disabledNext, kFrame, kCancel, kBack,
            {-1, kStatic, nullptr, kTextGroup, 0, 60, 16, 93, 8, L"Лицензионное соглашение"},
            {IDC_AGREEMENT_PROMPT, kStatic, nullptr, kChild | SS_LEFT, 0, 60, 27, 226, 24,
             L"Пожалуйста прочитайте лицензионное соглашение. Вы должны согласиться со всеми "
             L"пунктами лицензионного соглашения перед продолжением установки программы."},
            {IDC_AGREEMENT_TEXT, kEdit, nullptr,
             kChild | ES_MULTILINE | ES_READONLY | ES_WANTRETURN | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
             0, 60, 53, 226, 70, L""},
            {IDC_ACCEPT, kButton, nullptr, kChild | BS_AUTORADIOBUTTON, 0, 60, 127, 127, 10,
             L"Я принимаю данное соглашение"},
            {IDC_DECLINE, kButton, nullptr, kChild | BS_AUTORADIOBUTTON, 0, 60, 140, 155, 10,
             L"Нет, я не принимаю данного соглашения"},
        }},
        {IDD_DESTINATION, L"Выбор каталога для установки", {
            kNext, kFrame, kCancel, kBack,
            {-1, kStatic, nullptr, kTextGroup, 0, 60, 18, 226, 35,
             L"Программа Murmelist будет установлена в следующий каталог.\n"
             L"Для установки программы в другой каталог нажмите кнопку Обзор."},
            {IDC_DEST_DIR, kEdit, nullptr, kLineEdit, 0, 61, 66, 222, 14, L""},
            {IDC_BROWSE, kButton, nullptr, kPushButton, 0, 236, 88, 50, 14, L"Обзор..."},
            {IDC_SPACE_TEXT, kStatic, nullptr, kTextGroup, 0, 60, 85, 120, 8, L"Static"},
            {-1, kButton, nullptr, kGroupBox, 0, 57, 57, 230, 27, L"Каталог для установки"},
        }},
        {IDD_GROUP, L"Выбор группы программ", {
            kNext, kFrame, kCancel, kBack,
            {-1, kStatic, nullptr, kTextGroup, 0, 61, 15, 225, 25,
             L"Выберите папку меню \"Пуск\", где программа установки должна создать ярлыки для "
             L"устанавливаемой программы, затем нажмите кнопку \"Далее\""},
            {IDC_GROUP_NAME, kEdit, nullptr, kLineEdit, 0, 61, 45, 226, 14, L""},
            {IDC_GROUP_LIST, kListBox, nullptr,
             kChild | LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
             0, 61, 63, 226, 89, L""},
        }},
        {IDD_COPYING, L"Setup", {
            kFrame, kCancel,
            {IDC_STATUS_TEXT, kStatic, nullptr, kChild | WS_GROUP | SS_CENTER,
             WS_EX_STATICEDGE | WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME, 61, 29, 224, 21,
             L"Копирование файлов ..."},
            {IDC_PROGRESS, 0, L"msctls_progress32", kChild | WS_BORDER | PBS_SMOOTH, 0,
             61, 103, 224, 14, L"Progress2"},
        }},
        {IDD_FINISH, L"Завершение установки", {
            {IDC_NEXT, kButton, nullptr, kPushButton, 0, 183, 165, 50, 14, L"&Готово >"},
            kFrame,
            {-1, kStatic, nullptr, kTextGroup, 0, 82, 29, 183, 8,
             L"Программа успешно установлена на ваш компьютер!"},
            {IDC_DESKTOP_LINK, kButton, nullptr, kCheckBox, 0, 82, 64, 129, 10,
             L"Добавить ярлык на рабочий стол"},
            {IDC_STARTUP_LINK, kButton, nullptr, kCheckBox, 0, 82, 80, 126, 10,
             L"Добавить ярлык в автозагрузку"},
            {IDC_RUN_PROGRAM, kButton, nullptr, kCheckBox, 0, 82, 96, 90, 10, L"Запустить программу"},
            {IDC_ASSOCIATE, kButton, nullptr, kCheckBox, 0, 81, 112, 181, 10,
             L"Открывать .vdb файлы при помощи Murmelist"},
        }},
    };
}

// Styles compare as hex text, so that a failure names the bits.
std::string Hex(DWORD value) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << value;
    return text.str();
}

class PageTemplateTest : public SetupExe, public ::testing::WithParamInterface<int> {};

TEST_P(PageTemplateTest, MatchesItsTable) {
    const ExpectedPage expected = ExpectedPages()[GetParam()];
    SCOPED_TRACE("template " + std::to_string(expected.id));
    const std::string bytes = Resource(MAKEINTRESOURCEA(5), expected.id, kRussian);
    ASSERT_FALSE(bytes.empty()) << "no Russian template";

    PageTemplate page;
    ASSERT_TRUE(ParsePage(bytes, &page)) << "template runs past its " << bytes.size() << " bytes";
    EXPECT_LT(bytes.size() - page.end, 4u) << "bytes left after the last control";

    // The common frame.
    EXPECT_EQ(page.version, 1);
    EXPECT_EQ(page.signature, 0xFFFF);
    EXPECT_EQ(page.helpId, 0u);
    EXPECT_EQ(Hex(page.exStyle), Hex(0));
    EXPECT_EQ(Hex(page.style), Hex(0x90CA0AC0));
    EXPECT_EQ(page.cx, 300);
    EXPECT_EQ(page.cy, 186);
    EXPECT_TRUE(!page.menu.isOrdinal && page.menu.name.empty()) << "a menu";
    EXPECT_TRUE(!page.windowClass.isOrdinal && page.windowClass.name.empty()) << "a window class";
    EXPECT_EQ(page.title, expected.title);
    EXPECT_EQ(page.pointSize, 8);
    EXPECT_EQ(page.weight, 0);
    EXPECT_EQ(page.italic, 0);
    EXPECT_EQ(page.charset, DEFAULT_CHARSET);
    EXPECT_EQ(page.face, L"MS Sans Serif");

    ASSERT_EQ(page.count, expected.controls.size());
    ASSERT_EQ(page.controls.size(), expected.controls.size());
    for (size_t i = 0; i < expected.controls.size(); ++i) {
        const ExpectedControl& want = expected.controls[i];
        const ControlTemplate& got = page.controls[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(Hex(got.style), Hex(want.style));
        EXPECT_EQ(Hex(got.exStyle), Hex(want.exStyle));
        EXPECT_EQ(got.helpId, 0u);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        if (want.classAtom) {
            EXPECT_TRUE(got.windowClass.isOrdinal) << "class by name: " << ::testing::PrintToString(got.windowClass.name);
            EXPECT_EQ(got.windowClass.ordinal, want.classAtom);
        } else {
            EXPECT_FALSE(got.windowClass.isOrdinal);
            EXPECT_EQ(got.windowClass.name, want.className);
        }
        EXPECT_FALSE(got.text.isOrdinal) << "text given as an ordinal";
        EXPECT_EQ(got.text.name, want.text);
        EXPECT_EQ(got.extraBytes, 0);
    }
}

std::string PageName(const ::testing::TestParamInfo<int>& info) {
    static const char* const names[] = {"Welcome", "Agreement", "Destination", "Group", "Copying", "Finish"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(AllPages, PageTemplateTest, ::testing::Range(0, 6), PageName);

// --- Package data ----------------------------------------------------------

TEST_F(SetupExe, DataResourcesAreThePackageFiles) {
    const struct {
        int id;
        std::string file;
    } files[] = {
        {IDR_AGREEMENT, std::string(SOURCE_DIR) + "/resources/agreement.txt"},
        {IDR_PAYLOAD, std::string(BUILD_DIR) + "/package-data/payload.bin"},
        {IDR_GROUP_LINKS, std::string(BUILD_DIR) + "/package-data/links.bin"},
        {IDR_SETUP_STRINGS, std::string(BUILD_DIR) + "/package-data/strings.bin"},
        {IDR_DISPLAY_NAME, std::string(BUILD_DIR) + "/package-data/name.bin"},
    };
    for (const auto& entry : files) {
        SCOPED_TRACE(entry.file);
        const std::string expected = ReadWholeFile(entry.file);
        ASSERT_FALSE(expected.empty());
        const std::string actual = Data(entry.id);
        // Compared by size first: a mismatch of whole files is unreadable.
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected) << "contents differ";
    }
}

// The agreement box shows these bytes as they are, so they must already be
// ANSI Russian text with Windows line ends.
TEST(AgreementText, IsWindows1251WithCrLfLines) {
    const std::string text = ReadWholeFile(std::string(SOURCE_DIR) + "/resources/agreement.txt");
    ASSERT_GT(text.size(), 1000u);

    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        ASSERT_NE(c, 0) << "NUL at " << i;
        if (c == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "lone CR at " << i;
        } else if (c == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        } else {
            ASSERT_GE(c, 0x20) << "control byte " << int(c) << " at " << i;
        }
        ASSERT_NE(c, 0x98) << "byte 0x98 has no character in Windows-1251, at " << i;
    }
    EXPECT_NE(text.find("\r\n"), std::string::npos) << "a single line";

    // Read as Windows-1251, the text must say what it is; a UTF-8 or
    // otherwise converted file turns into other letters.
    wchar_t wide[8192];
    const int length = MultiByteToWideChar(1251, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), wide, 8192);
    ASSERT_GT(length, 0);
    const std::wstring decoded(wide, length);
    EXPECT_NE(decoded.find(L"соглашени"), std::wstring::npos);
    EXPECT_NE(decoded.find(L"Murmelist"), std::wstring::npos);
}

// --- Icon ------------------------------------------------------------------

#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved, type, count;
};
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconFileEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes, offset;
};
#pragma pack(pop)

TEST_F(SetupExe, IconIsOne32By32ImageIn16Colours) {
    const std::string group = Resource(MAKEINTRESOURCEA(14), IDI_PROGRAM, kEnglish);
    ASSERT_EQ(group.size(), sizeof(IconGroupHeader) + sizeof(IconGroupEntry));
    IconGroupHeader header;
    IconGroupEntry entry;
    std::memcpy(&header, group.data(), sizeof header);
    std::memcpy(&entry, group.data() + sizeof header, sizeof entry);
    EXPECT_EQ(header.reserved, 0);
    EXPECT_EQ(header.type, 1);  // icon, not cursor
    EXPECT_EQ(header.count, 1);
    EXPECT_EQ(entry.width, 32);
    EXPECT_EQ(entry.height, 32);
    EXPECT_EQ(entry.colours, 16);
    EXPECT_EQ(entry.planes, 1);
    EXPECT_EQ(entry.bitCount, 4);
    EXPECT_EQ(entry.id, 1);

    const std::string image = Resource(MAKEINTRESOURCEA(3), 1, kEnglish);
    ASSERT_EQ(image.size(), entry.bytes);
    BITMAPINFOHEADER bitmap;
    ASSERT_GE(image.size(), sizeof bitmap);
    std::memcpy(&bitmap, image.data(), sizeof bitmap);
    EXPECT_EQ(bitmap.biSize, sizeof bitmap);
    EXPECT_EQ(bitmap.biWidth, 32);
    EXPECT_EQ(bitmap.biHeight, 64);  // colour image and mask
    EXPECT_EQ(bitmap.biPlanes, 1);
    EXPECT_EQ(bitmap.biBitCount, 4);
    EXPECT_EQ(bitmap.biCompression, static_cast<DWORD>(BI_RGB));
    // Header, 16 palette entries, 32 rows of 16 colour bytes, 32 rows of 4 mask bytes.
    EXPECT_EQ(image.size(), 40u + 16 * 4 + 32 * 16 + 32 * 4);

    // The linked image is the committed icon file's image.
    const std::string file = ReadWholeFile(std::string(SOURCE_DIR) + "/resources/setup.ico");
    ASSERT_GE(file.size(), 6 + sizeof(IconFileEntry));
    IconFileEntry fileEntry;
    std::memcpy(&fileEntry, file.data() + 6, sizeof fileEntry);
    ASSERT_LE(size_t(fileEntry.offset) + fileEntry.bytes, file.size());
    EXPECT_TRUE(image == file.substr(fileEntry.offset, fileEntry.bytes));

    // And the system takes them as an icon: it picks image 1 for 32 x 32
    // from the group and makes an icon of it.
    EXPECT_EQ(LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE*>(const_cast<char*>(group.data())), TRUE,
                                          32, 32, LR_DEFAULTCOLOR),
              1);
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(const_cast<char*>(image.data())),
                                          static_cast<DWORD>(image.size()), TRUE, 0x00030000, 32, 32,
                                          LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr);
    if (icon) DestroyIcon(icon);
}

}  // namespace
