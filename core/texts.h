// Every text the program shows or writes that is not in a dialog template.
// The sources are UTF-8; the compiler turns these literals into
// Windows-1251 (-fexec-charset=CP1251), the code page of the ANSI calls.
#ifndef MURM_TEXTS_H
#define MURM_TEXTS_H

#define TEXT_ERROR_CAPTION   "Ошибка"
#define TEXT_EXIT_CAPTION    "Выход из установки"
#define TEXT_EXIT_QUESTION   "Программа установки еще не завершила свою работу.\n" \
                             "Если Вы выйдите сейчас, программа не будет установлена.\n" \
                             "Выйти из установки?"
// The question about an existing file, in two pieces around its name.
#define TEXT_OVERWRITE       "Файл "
#define TEXT_OVERWRITE_END   " уже существует. Переписать его ?"
// What could not be done, behind the word every such message starts with:
// AskRetry and ShowFailure put it in front.
#define TEXT_CANNOT          "Невозможно "
#define TEXT_CANNOT_WRITE    "записать файл\n"
#define TEXT_CANNOT_CREATE_DIR "создать каталог\n"
#define TEXT_CANNOT_MAKE_LINK "создать ярлык\n"
#define TEXT_CANNOT_MAKE_KEY "создать раздел реестра\n"
#define TEXT_CANNOT_SET_VALUE "записать в раздел реестра\n"
#define TEXT_PATH_TOO_LONG   "Слишком длинный путь к каталогу:\n"
#define TEXT_LONGEST_PATH    "\nПуть к файлу в нем был бы длиннее 259 символов:\n"
// A name of spaces and dots only, the folder's or the group's; the group's
// name also begins the message about characters it may not hold.
#define TEXT_BLANK_FOLDER    "Имя каталога"
#define TEXT_BLANK_GROUP     "Имя группы"
#define TEXT_BLANK_NAME_END  " не может состоять только из пробелов и точек."
#define TEXT_DAMAGED_SETUP   "Файл программы установки поврежден, установка невозможна.\n" \
                             "Получите программу установки заново."
#define TEXT_RESERVED_NAME   "Имя зарезервировано системой и не может быть использовано:\n"
#define TEXT_NO_ROOM         "Недостаточно места на диске.\n" \
                             "Необходимо: %lu КБ, свободно: %lu КБ."
#define TEXT_INCOMPLETE      "Установка не завершена, пропущено объектов: %i"
#define TEXT_TAKEN_BACK      "Не удалось записать программу удаления или журнал установки.\n" \
                             "Установка отменена, всё установленное удалено."
#define TEXT_CANNOT_START    "запустить программу\n"
#define TEXT_SHOW_PAGE       "показать окно программы установки."
// The package's constant, written into the text when the setup is built.
#define TEXT_NUMBER_(number) #number
#define TEXT_NUMBER(number)  TEXT_NUMBER_(number)
#define TEXT_REQUIRED_SPACE  "Необходимо: " TEXT_NUMBER(REQUIRED_KILOBYTES) " килобайт"
#define TEXT_CHECKING_SETUP  "Проверка файла программы установки... %i%%"
#define TEXT_BROWSE_TITLE    "Выберите папку для установки программы"
// A group's name with a character no folder name may hold, behind
// TEXT_BLANK_GROUP.
#define TEXT_BAD_GROUP_NAME_END " не должно содержать следующих символов:\n" \
                                " < > \\ / : \" ? * |"
#define TEXT_COPYING_STATUS  "Копирование файлов ..."
#define TEXT_SHORTCUT_STATUS "Создание ярлыков ..."

// Build-time constants of the package.
#define PRODUCT_FOLDER_NAME  "Murmelist"
#define FALLBACK_FOLDER      "C:\\Program Files\\Murmelist"
#define DEFAULT_GROUP_NAME   "Murmelist"
#define REQUIRED_KILOBYTES   68
#define EXTRA_FILE_COUNT     1
#define EXTRA_LOGGED_FILE    "settings.ini"
#define PRODUCT_PROGRAM      "\\murmlist.exe"
#define FILE_EXTENSION       ".vdb"
#define FILE_CLASS           "VarazAzadEvuz"
#define UNINSTALL_KEY        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"

#endif
