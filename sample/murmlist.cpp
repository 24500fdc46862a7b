// Murmelist 2.0, as far as the setup needs it: a window with the product's
// name that shows which file it was asked to open. Explorer starts it with
// the file's path as its only argument (the .vdb open command); the setup's
// finish page starts it with none.
//
// The main window's class and title are fixed, so that a test can find the
// running program with FindWindow and close it with WM_CLOSE.
#include <windows.h>

static const char MAIN_CLASS[] = "MurmelistMainWindow";
static const char MAIN_TITLE[] = "Murmelist 2.0";
static const int TEXT_ID = 100;

// The command line after the program's own name, with blanks and one pair
// of enclosing quotes removed. Without quotes the whole rest is the path, so
// an unquoted path with spaces still arrives in one piece.
static void ReadFileArgument(char* out, int outSize)
{
    const char* p = GetCommandLineA();
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    int length = lstrlenA(p);
    while (length > 0 && (p[length - 1] == ' ' || p[length - 1] == '\t')) --length;
    if (length >= 2 && p[0] == '"' && p[length - 1] == '"') {
        ++p;
        length -= 2;
    }
    if (length >= outSize) length = outSize - 1;
    lstrcpynA(out, p, length + 1);
}

static void DescribeFile(char* text, int textSize)
{
    char path[MAX_PATH * 2];
    ReadFileArgument(path, sizeof path);
    if (!path[0]) {
        lstrcpynA(text, "Файл не указан.\r\n\r\nОткройте файл базы (.vdb) из Проводника.", textSize);
        return;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        wsprintfA(text, "Файл не найден:\r\n%s", path);
    } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        wsprintfA(text, "Это папка, а не файл:\r\n%s", path);
    } else {
        wsprintfA(text, "Открыт файл:\r\n%s\r\n\r\nРазмер: %lu байт", path, data.nFileSizeLow);
    }
}

static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        char text[MAX_PATH * 2 + 128];
        DescribeFile(text, sizeof text);
        CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_LEFT,
                        12, 12, 460, 200, window, (HMENU)(INT_PTR)TEXT_ID,
                        ((LPCREATESTRUCTA)lParam)->hInstance, NULL);
        HWND label = GetDlgItem(window, TEXT_ID);
        SendMessageA(label, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
        return 0;
    }
    case WM_SIZE:
        MoveWindow(GetDlgItem(window, TEXT_ID), 12, 12,
                   LOWORD(lParam) > 24 ? LOWORD(lParam) - 24 : 0,
                   HIWORD(lParam) > 24 ? HIWORD(lParam) - 24 : 0, TRUE);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = MAIN_CLASS;
    if (!RegisterClassA(&windowClass)) return 1;

    HWND window = CreateWindowExA(0, MAIN_CLASS, MAIN_TITLE, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 500, 260,
                                  NULL, NULL, instance, NULL);
    if (!window) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
