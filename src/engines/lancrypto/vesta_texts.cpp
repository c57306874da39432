// The texts of the LAN Crypto adapter: the toolkit's code table with the binding's own codes 1 to 8,
// and the engine's table. UTF-8 here; hosts receive them in Windows-1251, byte for byte as the
// system has always given them (their spelling included).
#include "engines/lancrypto/vesta_texts.h"

#include <cstddef>

namespace zk::lancrypto {

namespace {

struct CodeText {
  int32_t code;
  const char* text;
};

// The -5 text begins with a Latin "C", as the toolkit's own table has it.
const CodeText kToolkitTexts[] = {
    {1, "Библиотека не загружена или не содержит всех необходимых функций."},
    {2, "Переданы некорректные параметры"},
    {3, "Исключительная ситуация при вызове библиотечной функции"},
    {4, "Переданы некорректные зашифрованные данные"},
    {5, "Недостаточно памяти"},
    {6, "Абонент не найден в каталоге"},
    {7, "Заданный UID не соответствует заданному секретному ключу."},
    {8, "Заданный секретный ключ не найден."},
    {-1, "Файл не найден (возможно не вставлена дискета)"},
    {-2, "Неверный пароль"},
    {-3, "Ошибка ключевого диска"},
    {-4, "Ошибка touch memory"},
    {-5, "Cекретный ключ подписи не найден или испорчен"},
    {-6, "Неизвестный пользователь"},
    {-7, "Ошибка чтения"},
    {-8, "Ошибка записи"},
    {-9, "Нет секретного ключа"},
    {-10, "Получено прерывание от пользователя"},
    {-11, "Каталог ключей не найден"},
    {-12, "Не достаточно памяти"},
    {-13, "Не удается создать временный файл"},
    {-14, "Не удается создать файл секретного ключа"},
    {-15, "Не удается создать файл открытого ключа"},
    {-16, "Не удается создать файл каталога ключей"},
    {-17, "Не удается создать сетевой файл"},
    {-18, "Пользователь уже присутствует"},
    {-19, "Ограничение клиентской версии"},
    {-20, "Read before service"},
    {-21, "Нужен добавочный ключ"},
    {-22, "Нужен добавочный ключ touch memory"},
    {-23, "Неверная контрольная сумма"},
    {-24, "Открытый ключ не найден"},
    {-25, "Каталог открытых ключей пуст"},
    {-26, "Время действия ключа истекло"},
    {-27, "Время действия ключа истекает"},
    {-28, "Слишком длинное имя файла для каталога открытых ключей"},
    {-29, "Память touch memory не найдена"},
    {-30, "Необходимо подсоединить touch memory"},
    {-31, "Плохая информация touch memory"},
    {-32, "Устаревшая версия touch memory"},
    {-33, "Неверная touch memory"},
    {-34, "Нет добавочного ключа"},
    {-35, "Неподдерживаемая touch memory"},
    {-36, "Плохой номер COM-порта"},
    {-37, "Не удается установить соединение"},
    {-100, "Notary: плохая подпись"},
    {-101, "Notary: подписано другим пользователем"},
    {-102, "Notary: подпись не найдена"},
    {-103, "Notary: слишком много подписей"},
    {-104, "Notary: не удается подписать файл"},
    {-105, "Notary: старая версия"},
    {-200, "Vesta: Удачно со старым ключом"},
    {-201, "Vesta: Не удается создать ключ"},
    {-202, "Vesta: Зашифровано не для вас"},
    {-203, "Vesta: Файл не зашифрован"},
    {-204, "Vesta: Неверная версия"},
    {-205, "Vesta: Неизвестный метод сжатия"},
    {-206, "Vesta: Другой получатель"},
    {-207, "Vesta: Другой отправитель"},
    {-208, "Vesta: Неверное короткое имя"},
    {-209, "Vesta: Короткое имя уже есть"},
    {-210, "Vesta: Не удается создать выходной файл"},
    {-211, "Vesta: Неизвестный тип"},
    {-212, "Vesta: Выходной файл уже существует"},
    {-213, "Vesta: WGroup key not found"},
    {-214, "Vesta: Различные методы"},
    {-215, "Vesta: Различные открытые ключи"},
    {-300, "Treat before read"},
    {-301, "Treat before open"},
    {-302, "Неверный параметр"},
    {-303, "Хэширование перед инициализацией"},
    {-304, "Подпись до хэширования или загрузки ключа"},
    {-305, "Проверка до хэширования или загрузки ключа"},
    {-306, "Создание перед загрузкой ключа"},
    {-307, "Неизвестные метод подписи"},
    {-308, "Подпись до заполнения"},
    {-309, "Инициализация до чтения"},
    {-310, "Шифрация до инициализации"},
    {-311, "Вызов следующего до вызова первого"},
    {-312, "Неверный метод подписи"},
    {-313, "Использование до заполнения"},
    {-314, "Unknown picture file"},
    {-315, "Workgroup error"},
};

const CodeText kEngineTexts[] = {
    {1, R"(Library not loaded)"},
    {2, R"(Null pointer or incorrect data size (buffer) passed to the function!)"},
    {4, R"(Bad encoded data received)"},
    {5, R"(Not enougth memory)"},
    {6, R"(Request UID not found in vault file)"},
    {7, R"(Specific UID and UID in private key isn't equal)"},
    {8, R"(Specific private key isn't found.)"},
    {9, R"("New key expire period" parameters must contain positive numeric value.)"},
    {10, R"(Can't fill private key structure. Bad password.)"},
    {11, R"(New user name is too long.)"},
    {12, R"(User short name is too long.)"},
    {13, R"(Can't fill private key structure. Private key is expired!)"},
    {14, R"(There are no Touch Memory adapter present)"},
    {15, R"(Incorrect Port Number)"},
    {16, R"(Touch memory read error.)"},
    {17, R"(Only DS1993 and DS1994 supporting.)"},
    {18, R"(Unsupporting function with touch memory.)"},
    {19, R"(Touch memory write error.)"},
    {20, R"(Private key not found on touch memory.)"},
    {100, R"(Library not initialized.)"},
    {102, "Stop an exception. "},
    {103, R"(Invalid settings.)"},
    {104, R"(String length check error.)"},
    {105, R"(Can not allocate memory.)"},
    {106, R"(It isn't signed memory block.)"},
    {108, R"(Sign or Encode UID unknown. Can't create transfer buffer.)"},
    {109, R"("Sign method" and "Encrypt method" parameters must contain numeric value.)"},
    {111, R"("Touch memory port number" parameters must contain numeric value.)"},
    {112, R"(Can't exclude or write on disk one of certificate file from transfer buffer.)"},
    {113, R"(New keys isn't found in specific remote generate dir.)"},
    {114, R"(Write error or disk is full.)"},
    {115, R"(Can't read keys or vault file from specific remote generate dir.)"},
    {116, R"(One of public key file isn't found.)"},
    {117, R"(File read error)"},
    {118, R"(Can not remove self certificate!)"},
    {119, R"(Parameters index out of bounds.)"},
    {120, R"(Unable to load library ct512.dll)"},
    {121, R"(Библиотека ct512.dll не содержит всех необходимых для корректной работы функций. Проверьте версию ct512.dll)"},
    {122, R"(Remote generate path isn't set, or I/O error during file operation occured.)"},
};

const char* Find(const CodeText* table, std::size_t count, int32_t code) {
  for (std::size_t i = 0; i < count; ++i) {
    if (table[i].code == code) return table[i].text;
  }
  return nullptr;
}

}  // namespace

const char* ToolkitText(int32_t code) { return Find(kToolkitTexts, sizeof(kToolkitTexts) / sizeof(kToolkitTexts[0]), code); }
const char* EngineText(int32_t code) { return Find(kEngineTexts, sizeof(kEngineTexts) / sizeof(kEngineTexts[0]), code); }

}  // namespace zk::lancrypto
