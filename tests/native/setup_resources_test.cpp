// What setup.exe of each Windows build carries, read from its file on the
// host: exactly the expected resources, every page template control by
// control, the package data byte for byte, and the icon; and that the
// agreement text is what the agreement box can show.
#include "setup_image.h"

#include "resources/ids.h"

#include <iconv.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <tuple>

namespace {

const uint32_t RUSSIAN = 0x0419;
const uint32_t ENGLISH = 0x0409;

uint32_t Get16(const std::string& b, size_t at)
{
    return (unsigned char)b[at] | ((unsigned char)b[at + 1] << 8);
}

uint32_t Get32(const std::string& b, size_t at)
{
    return Get16(b, at) | (Get16(b, at + 2) << 16);
}

std::string ReadText(const std::string& path)
{
    Bytes bytes;
    EXPECT_TRUE(ReadFileBytes(path, &bytes)) << "cannot open " << path;
    return std::string(bytes.begin(), bytes.end());
}

// --- Inventory -----------------------------------------------------------

// "#5" for a number, the name itself otherwise.
std::string NameText(const PeResourceName& name)
{
    if (!name.text)
        return "#" + std::to_string(name.id);
    std::string text;
    for (uint32_t i = 0; i < name.length; ++i)
        text += (char)name.text[2 * i];
    return text;
}

using ResourceKey = std::tuple<std::string, std::string, uint32_t>;  // type, name, language

bool CollectKey(const PeResource* resource, void* context)
{
    ((std::set<ResourceKey>*)context)
        ->insert(ResourceKey(NameText(resource->type), NameText(resource->name), resource->language));
    return true;
}

TEST_P(SetupImage, CarriesExactlyThePackageResources)
{
    std::set<ResourceKey> keys;
    ASSERT_TRUE(WalkPeResources(image_.data(), image_.size(), &image_.headers, CollectKey, &keys));
    const std::set<ResourceKey> expected = {
        {"#5", "#104", RUSSIAN},  {"#5", "#105", RUSSIAN},  {"#5", "#106", RUSSIAN},
        {"#5", "#107", RUSSIAN},  {"#5", "#108", RUSSIAN},  {"#5", "#109", RUSSIAN},
        {"#10", "#110", RUSSIAN}, {"#10", "#114", RUSSIAN}, {"#10", "#118", RUSSIAN},
        {"#10", "#119", RUSSIAN}, {"#10", "#122", RUSSIAN}, {"#3", "#1", ENGLISH},
        {"#14", "#103", ENGLISH},
    };
    // Set comparison says nothing of what toolchains add on their own (a
    // manifest, a version record), so a failure lists what was found.
    std::ostringstream found;
    for (const ResourceKey& key : keys)
        found << std::get<0>(key) << "/" << std::get<1>(key) << "/" << std::get<2>(key) << " ";
    EXPECT_EQ(keys, expected) << "found: " << found.str();
}

// The data resources as the setup finds them, by id alone.
TEST_P(SetupImage, DataResourcesAreThePackageFiles)
{
    const std::string data = GetParam().dir + "/package-data/";
    const std::pair<int, std::string> files[] = {
        {IDR_AGREEMENT, std::string(SOURCE_DIR) + "/resources/agreement.txt"},
        {IDR_PAYLOAD, data + "payload.bin"},
        {IDR_GROUP_LINKS, data + "links.bin"},
        {IDR_SETUP_STRINGS, data + "strings.bin"},
        {IDR_DISPLAY_NAME, data + "name.bin"},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.second);
        const std::string expected = ReadText(file.second);
        ASSERT_FALSE(expected.empty());
        const std::string actual = Resource(PE_RESOURCE_RCDATA, file.first);
        // Sizes first: a mismatch of whole files is unreadable.
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_TRUE(actual == expected) << "contents differ";
    }
}

// --- Page templates --------------------------------------------------------

// Window styles, as the Windows headers define them.
const uint32_t WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000, WS_DISABLED = 0x08000000,
               WS_BORDER = 0x00800000, WS_VSCROLL = 0x00200000, WS_GROUP = 0x00020000,
               WS_TABSTOP = 0x00010000;
const uint32_t BS_PUSHBUTTON = 0, BS_AUTOCHECKBOX = 3, BS_GROUPBOX = 7, BS_AUTORADIOBUTTON = 9;
const uint32_t SS_LEFT = 0, SS_CENTER = 1;
const uint32_t ES_MULTILINE = 0x4, ES_AUTOHSCROLL = 0x80, ES_READONLY = 0x800,
               ES_WANTRETURN = 0x1000;
const uint32_t LBS_NOTIFY = 0x1, LBS_SORT = 0x2, LBS_NOINTEGRALHEIGHT = 0x100;
const uint32_t PBS_SMOOTH = 0x1;
const uint32_t WS_EX_DLGMODALFRAME = 0x1, WS_EX_CLIENTEDGE = 0x200, WS_EX_STATICEDGE = 0x20000;
const uint32_t DS_SETFONT = 0x40;
const int DEFAULT_CHARSET = 1;

const uint32_t CHILD = WS_CHILD | WS_VISIBLE;
const uint32_t PUSH_BUTTON = CHILD | WS_TABSTOP | BS_PUSHBUTTON;
const uint32_t GROUP_BOX = CHILD | BS_GROUPBOX;
const uint32_t TEXT_GROUP = CHILD | WS_GROUP | SS_LEFT;
const uint32_t CHECK_BOX = CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
const uint32_t LINE_EDIT = CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;

const uint32_t BUTTON = 0x0080, EDIT = 0x0081, STATIC = 0x0082, LIST_BOX = 0x0083;

// A class, menu or text field: a 16-bit ordinal or a string, here in UTF-8.
struct NameOrOrdinal {
    bool isOrdinal = false;
    uint32_t ordinal = 0;
    std::string name;
};

struct ControlTemplate {
    uint32_t helpId, exStyle, style;
    int x, y, cx, cy;
    int32_t id;
    NameOrOrdinal windowClass, text;
    uint32_t extraBytes;
};

struct PageTemplate {
    uint32_t version, signature, helpId, exStyle, style, count;
    int x, y, cx, cy;
    NameOrOrdinal menu, windowClass;
    std::string title;
    uint32_t pointSize = 0, weight = 0, italic = 0, charset = 0;
    std::string face;
    std::vector<ControlTemplate> controls;
    size_t end;  // where the last control ends
};

// A walk over template bytes; a read past the end clears ok and reads 0.
struct TemplateCursor {
    const std::string& bytes;
    size_t at = 0;
    bool ok = true;

    uint32_t Take(size_t size)
    {
        if (bytes.size() - std::min(at, bytes.size()) < size) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < size; ++i)
            value |= (uint32_t)(unsigned char)bytes[at + i] << (8 * i);
        at += size;
        return value;
    }
    int TakeShort() { return (int16_t)Take(2); }

    // UTF-16 up to its terminator, as UTF-8.
    std::string TakeString()
    {
        std::string text;
        for (uint32_t unit; (unit = Take(2)) != 0 && ok;) {
            if (unit >= 0xD800 && unit < 0xE000)
                unit = 0xFFFD;  // the templates hold no surrogates
            if (unit < 0x80) {
                text += (char)unit;
            } else if (unit < 0x800) {
                text += (char)(0xC0 | unit >> 6);
                text += (char)(0x80 | (unit & 0x3F));
            } else {
                text += (char)(0xE0 | unit >> 12);
                text += (char)(0x80 | ((unit >> 6) & 0x3F));
                text += (char)(0x80 | (unit & 0x3F));
            }
        }
        return text;
    }

    NameOrOrdinal TakeNameOrOrdinal()
    {
        NameOrOrdinal field;
        if (bytes.size() - std::min(at, bytes.size()) >= 2 && Get16(bytes, at) == 0xFFFF) {
            at += 2;
            field.isOrdinal = true;
            field.ordinal = Take(2);
        } else {
            field.name = TakeString();
        }
        return field;
    }
};

bool ParsePage(const std::string& bytes, PageTemplate* page)
{
    TemplateCursor in{bytes};
    page->version = in.Take(2);
    page->signature = in.Take(2);
    page->helpId = in.Take(4);
    page->exStyle = in.Take(4);
    page->style = in.Take(4);
    page->count = in.Take(2);
    page->x = in.TakeShort();
    page->y = in.TakeShort();
    page->cx = in.TakeShort();
    page->cy = in.TakeShort();
    page->menu = in.TakeNameOrOrdinal();
    page->windowClass = in.TakeNameOrOrdinal();
    page->title = in.TakeString();
    // The font fields are there only with DS_SETFONT.
    if (page->style & DS_SETFONT) {
        page->pointSize = in.Take(2);
        page->weight = in.Take(2);
        page->italic = in.Take(1);
        page->charset = in.Take(1);
        page->face = in.TakeString();
    }
    for (uint32_t i = 0; i < page->count && in.ok; ++i) {
        in.at = (in.at + 3) & ~size_t(3);
        ControlTemplate control;
        control.helpId = in.Take(4);
        control.exStyle = in.Take(4);
        control.style = in.Take(4);
        control.x = in.TakeShort();
        control.y = in.TakeShort();
        control.cx = in.TakeShort();
        control.cy = in.TakeShort();
        control.id = (int32_t)in.Take(4);
        control.windowClass = in.TakeNameOrOrdinal();
        control.text = in.TakeNameOrOrdinal();
        control.extraBytes = in.Take(2);
        in.at += control.extraBytes;
        page->controls.push_back(control);
    }
    page->end = in.at;
    return in.ok && in.at <= bytes.size();
}

struct ExpectedControl {
    int id;
    uint32_t classAtom;  // 0 when the class is given by name
    const char* className;
    uint32_t style, exStyle;
    int x, y, cx, cy;
    const char* text;
};

struct ExpectedPage {
    const char* name;
    int id;
    const char* title;
    std::vector<ExpectedControl> controls;
};

// The common frame's controls, in the place each page lists them.
const ExpectedControl NEXT = {IDC_NEXT, BUTTON, nullptr, PUSH_BUTTON, 0, 183, 165, 50, 14, "&Далее>"};
const ExpectedControl FRAME = {IDC_FRAME, BUTTON, nullptr, GROUP_BOX, WS_EX_DLGMODALFRAME,
                               53, 7, 240, 150, ""};
const ExpectedControl CANCEL = {IDC_CANCEL, BUTTON, nullptr, PUSH_BUTTON, 0, 243, 165, 50, 14, "Отмена"};
const ExpectedControl BACK = {IDC_BACK, BUTTON, nullptr, PUSH_BUTTON, 0, 123, 165, 50, 14, "< &Назад"};

std::vector<ExpectedPage> ExpectedPages()
{
    ExpectedControl disabledNext = NEXT;
    disabledNext.style |= WS_DISABLED;
    return {
        {"Welcome", IDD_WELCOME, "Добро пожаловать", {
            NEXT, FRAME, CANCEL,
            {-1, STATIC, nullptr, TEXT_GROUP, 0, 61, 16, 222, 52,
             "  Добро пожаловать в программу установки Murmelist 2.0\n\n"
             "  Эта программа должна установить Murmelist 2.0 на ваш компьютер.\n\n"
             "  Рекомендуется закрыть все работающие программы Windows."},
            {-1, STATIC, nullptr, TEXT_GROUP, 0, 61, 70, 222, 20,
             "  Если у вас установлена предыдущая версия Murmelist, то ее\n"
             "необходимо удалить перед установкой."},
        }},
        {"Agreement", IDD_AGREEMENT, "Лицензионное соглашение", {
            disabledNext, FRAME, CANCEL, BACK,
            {-1, STATIC, nullptr, TEXT_GROUP, 0, 60, 16, 93, 8, "Лицензионное соглашение"},
            {IDC_AGREEMENT_PROMPT, STATIC, nullptr, CHILD | SS_LEFT, 0, 60, 27, 226, 24,
             "Пожалуйста прочитайте лицензионное соглашение. Вы должны согласиться со всеми "
             "пунктами лицензионного соглашения перед продолжением установки программы."},
            {IDC_AGREEMENT_TEXT, EDIT, nullptr,
             CHILD | ES_MULTILINE | ES_READONLY | ES_WANTRETURN | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
             0, 60, 53, 226, 70, ""},
            {IDC_ACCEPT, BUTTON, nullptr, CHILD | BS_AUTORADIOBUTTON, 0, 60, 127, 127, 10,
             "Я принимаю данное соглашение"},
            {IDC_DECLINE, BUTTON, nullptr, CHILD | BS_AUTORADIOBUTTON, 0, 60, 140, 155, 10,
             "Нет, я не принимаю данного соглашения"},
        }},
        {"Destination", IDD_DESTINATION, "Выбор каталога для установки", {
            NEXT, FRAME, CANCEL, BACK,
            {-1, STATIC, nullptr, TEXT_GROUP, 0, 60, 18, 226, 35,
             "Программа Murmelist будет установлена в следующий каталог.\n"
             "Для установки программы в другой каталог нажмите кнопку Обзор."},
            {IDC_DEST_DIR, EDIT, nullptr, LINE_EDIT, 0, 61, 66, 222, 14, ""},
            {IDC_BROWSE, BUTTON, nullptr, PUSH_BUTTON, 0, 236, 88, 50, 14, "Обзор..."},
            {IDC_SPACE_TEXT, STATIC, nullptr, TEXT_GROUP, 0, 60, 85, 120, 8, "Static"},
            {-1, BUTTON, nullptr, GROUP_BOX, 0, 57, 57, 230, 27, "Каталог для установки"},
        }},
        {"Group", IDD_GROUP, "Выбор группы программ", {
            NEXT, FRAME, CANCEL, BACK,
            {-1, STATIC, nullptr, TEXT_GROUP, 0, 61, 15, 225, 25,
             "Выберите папку меню \"Пуск\", где программа установки должна создать ярлыки для "
             "устанавливаемой программы, затем нажмите кнопку \"Далее\""},
            {IDC_GROUP_NAME, EDIT, nullptr, LINE_EDIT, 0, 61, 45, 226, 14, ""},
            {IDC_GROUP_LIST, LIST_BOX, nullptr,
             CHILD | LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
             0, 61, 63, 226, 89, ""},
        }},
        {"Copying", IDD_COPYING, "Setup", {
            FRAME, CANCEL,
            {IDC_STATUS_TEXT, STATIC, nullptr, CHILD | WS_GROUP | SS_CENTER,
             WS_EX_STATICEDGE | WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME, 61, 29, 224, 21,
             "Копирование файлов ..."},
            {IDC_PROGRESS, 0, "msctls_progress32", CHILD | WS_BORDER | PBS_SMOOTH, 0,
             61, 103, 224, 14, "Progress2"},
        }},
        {"Finish", IDD_FINISH, "Завершение установки", {
            {IDC_NEXT, BUTTON, nullptr, PUSH_BUTTON, 0, 183, 165, 50, 14, "&Готово >"},
            FRAME,
            {-1, STATIC, nullptr, TEXT_GROUP, 0, 82, 29, 183, 8,
             "Программа успешно установлена на ваш компьютер!"},
            {IDC_DESKTOP_LINK, BUTTON, nullptr, CHECK_BOX, 0, 82, 64, 129, 10,
             "Добавить ярлык на рабочий стол"},
            {IDC_STARTUP_LINK, BUTTON, nullptr, CHECK_BOX, 0, 82, 80, 126, 10,
             "Добавить ярлык в автозагрузку"},
            {IDC_RUN_PROGRAM, BUTTON, nullptr, CHECK_BOX, 0, 82, 96, 90, 10, "Запустить программу"},
            {IDC_ASSOCIATE, BUTTON, nullptr, CHECK_BOX, 0, 81, 112, 181, 10,
             "Открывать .vdb файлы при помощи Murmelist"},
        }},
    };
}

// Styles compare as hex text, so that a failure names the bits.
std::string Hex(uint32_t value)
{
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << value;
    return text.str();
}

TEST_P(SetupImage, EveryPageTemplateMatchesItsTable)
{
    for (const ExpectedPage& expected : ExpectedPages()) {
        SCOPED_TRACE(std::string(expected.name) + " page, template " + std::to_string(expected.id));
        const std::string bytes = Resource(PE_RESOURCE_DIALOG, expected.id, RUSSIAN);
        ASSERT_FALSE(bytes.empty()) << "no Russian template";
        PageTemplate page;
        ASSERT_TRUE(ParsePage(bytes, &page)) << "template runs past its " << bytes.size() << " bytes";
        EXPECT_LT(bytes.size() - page.end, 4u) << "bytes left after the last control";

        // The common frame.
        EXPECT_EQ(page.version, 1u);
        EXPECT_EQ(page.signature, 0xFFFFu);
        EXPECT_EQ(page.helpId, 0u);
        EXPECT_EQ(Hex(page.exStyle), Hex(0));
        EXPECT_EQ(Hex(page.style), Hex(0x90CA0AC0));
        EXPECT_EQ(page.cx, 300);
        EXPECT_EQ(page.cy, 186);
        EXPECT_TRUE(!page.menu.isOrdinal && page.menu.name.empty()) << "a menu";
        EXPECT_TRUE(!page.windowClass.isOrdinal && page.windowClass.name.empty()) << "a window class";
        EXPECT_EQ(page.title, expected.title);
        EXPECT_EQ(page.pointSize, 8u);
        EXPECT_EQ(page.weight, 0u);
        EXPECT_EQ(page.italic, 0u);
        EXPECT_EQ(page.charset, (uint32_t)DEFAULT_CHARSET);
        EXPECT_EQ(page.face, "MS Sans Serif");

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
                EXPECT_TRUE(got.windowClass.isOrdinal) << "class by name: " << got.windowClass.name;
                EXPECT_EQ(got.windowClass.ordinal, want.classAtom);
            } else {
                EXPECT_FALSE(got.windowClass.isOrdinal);
                EXPECT_EQ(got.windowClass.name, want.className);
            }
            EXPECT_FALSE(got.text.isOrdinal) << "text given as an ordinal";
            EXPECT_EQ(got.text.name, want.text);
            EXPECT_EQ(got.extraBytes, 0u);
        }
    }
}

// --- Icon ------------------------------------------------------------------

TEST_P(SetupImage, IconIsOne32By32ImageIn16Colours)
{
    // The group: reserved, type, count, then per image width, height,
    // colours, reserved, planes, bit count, bytes and its RT_ICON id.
    const std::string group = Resource(PE_RESOURCE_GROUP_ICON, IDI_PROGRAM, ENGLISH);
    ASSERT_EQ(group.size(), 6u + 14);
    EXPECT_EQ(Get16(group, 0), 0u);
    EXPECT_EQ(Get16(group, 2), 1u) << "a cursor";
    EXPECT_EQ(Get16(group, 4), 1u);
    EXPECT_EQ((unsigned char)group[6], 32);
    EXPECT_EQ((unsigned char)group[7], 32);
    EXPECT_EQ((unsigned char)group[8], 16);
    EXPECT_EQ(Get16(group, 10), 1u);
    EXPECT_EQ(Get16(group, 12), 4u);
    EXPECT_EQ(Get16(group, 18), 1u);

    const std::string image = Resource(PE_RESOURCE_ICON, 1, ENGLISH);
    ASSERT_EQ(image.size(), Get32(group, 14));
    // A BITMAPINFOHEADER: 32 wide, 64 high (colour image and mask), one
    // plane, 4 bits, no compression; 16 palette entries, 32 rows of 16
    // colour bytes, 32 rows of 4 mask bytes.
    ASSERT_EQ(image.size(), 40u + 16 * 4 + 32 * 16 + 32 * 4);
    EXPECT_EQ(Get32(image, 0), 40u);
    EXPECT_EQ(Get32(image, 4), 32u);
    EXPECT_EQ(Get32(image, 8), 64u);
    EXPECT_EQ(Get16(image, 12), 1u);
    EXPECT_EQ(Get16(image, 14), 4u);
    EXPECT_EQ(Get32(image, 16), 0u);

    // The linked image is the committed icon file's image.
    const std::string file = ReadText(std::string(SOURCE_DIR) + "/resources/setup.ico");
    ASSERT_GE(file.size(), 6u + 16);
    const uint32_t bytes = Get32(file, 6 + 8), offset = Get32(file, 6 + 12);
    ASSERT_LE(size_t(offset) + bytes, file.size());
    EXPECT_TRUE(image == file.substr(offset, bytes));
}

INSTANTIATE_TEST_SUITE_P(Builds, SetupImage, ::testing::ValuesIn(Builds()), BuildName);

// --- Agreement text --------------------------------------------------------

// The agreement box shows these bytes as they are, so they must already be
// ANSI Russian text with Windows line ends.
TEST(AgreementText, IsWindows1251WithCrLfLines)
{
    const std::string text = ReadText(std::string(SOURCE_DIR) + "/resources/agreement.txt");
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

    // Read as Windows-1251, the text must say what it is; a UTF-8 or
    // otherwise converted file turns into other letters.
    iconv_t convert = iconv_open("UTF-8", "CP1251");
    ASSERT_NE(convert, (iconv_t)-1) << "no CP1251 converter";
    std::string decoded(text.size() * 3, '\0');
    char* in = const_cast<char*>(text.data());
    char* out = &decoded[0];
    size_t inLeft = text.size(), outLeft = decoded.size();
    const size_t result = iconv(convert, &in, &inLeft, &out, &outLeft);
    iconv_close(convert);
    ASSERT_NE(result, (size_t)-1) << "not Windows-1251 at byte " << text.size() - inLeft;
    decoded.resize(decoded.size() - outLeft);
    EXPECT_NE(decoded.find("соглашени"), std::string::npos);
    EXPECT_NE(decoded.find("Murmelist"), std::string::npos);
}

}  // namespace
