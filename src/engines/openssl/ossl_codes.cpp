#include "engines/openssl/ossl_codes.h"

namespace zk::ossl {

namespace {

struct CodeText {
  int32_t code;
  const char* text;  // UTF-8; hosts receive it in Windows-1251
};

// The texts are the system's own and are kept byte for byte, the old library name included.
const CodeText kTexts[] = {
    {-67, "Исключительная ситуация при вызове функции библиотеки libeay32.dll"},
    {-66, "Библиотека libeay32.dll не содержит всех необходимых для корректной работы функций. Проверьте версию libeay32.dll"},
    {-65, "Невозможно загрузить библиотеку ПБЗИ libeay32.dll"},
    {-64, "Ошибка генератора случайных чисел. Библиотека libeay32.dll не содержит всех необходимых для корректной работы функций. Проверьте версию libeay32.dll"},
    {-63, "Ошибка генератора случайных чисел. Невозможно загрузить библиотеку ПБЗИ libeay32.dll"},
    {-62, "Отсутствует настроечный параметр с заданным номером."},
    {-61, "Произошла ошибка при проверке полученного сертификата на действительность и соответствие новому секретному ключу."},
    {-60, "Неверный формат подписи, либо блока данных с подписью."},
    {-59, "Сбой при снятии подписи. Возможно на проверку поступил блок данных с подписью неверного формата."},
    {-58, "Длина ключа должна быть кратна 8-ми, в диапозоне 512 - 2048"},
    {-57, "Подпись под CRL неверна, её невозможно проверить, либо в каталоге сертификатов центров сертификации отсутствует соответствующий издатель."},
    {-56, "Сертификат отозван (найден в CRL)."},
    {-55, "Не задан или не найден каталог CRL."},
    {-54, "Не задан или не найден каталог сертификатов центров сертификации."},
    {-53, "Ошибка ввода-вывода при обращении к файлу CRL."},
    {-52, "На обработку поступил CRL формат которого не поддерживается."},
    {-51, "Невозможно проверить сертификат. Возможно формат сертификата или CRL не поддерживается."},
    {-50, "Неверный формат запроса на сертификат."},
    {-49, "Не найден файл нового секретного ключа. Невозможно завершить перегенерацию."},
    {-48, "Невозможно обработать сертификат. Превышено ограничение на размер сертификата."},
    {-47, "Функция не поддерживается."},
    {-46, "Не задан, или задан неверно каталог удаленной перегенерации."},
    {-45, "Невозможно создать запрос на сертификат. Невозможно получить handle алгоритма shaWithRSAEncryption."},
    {-44, "Невозможно удалить собственный сертификат."},
    {-43, "В заданном каталоге абонентов отсутствует сертификат, соответствующий заданному UID'у"},
    {-42, "Неверно задан каталог сертификатов абонентов."},
    {-41, "Невозможно включить в каталог абонентов сертификат серийный номер которого совпадает с серийным номером сертификата владельца ключей."},
    {-40, "Ошибка чтения файла сертификата. Файл задан неверно или имеет неверный формат."},
    {-39, "Нарушена целостность зашифрованных данных."},
    {-38, "Данные зашифрованы на сертификате, не соответствующем секретному ключу получателя."},
    {-37, "Данные зашифрованы для другого абонента"},
    {-36, "Блок данных для расшифрования имеет неверный формат. Данные повреждены."},
    {-35, "Задан неверный алгоритм шифрования. Допустимые значения: RC4,RC2_ECB,RC2_CBC,RC5_ECB,RC5_CBC."},
    {-34, "Не задан или задан неверно UID адресата для шифрования."},
    {-33, "Невозможно дублировать контекст сертификата. Сертификат имеет неверный формат, либо произошел сбой в криптоядре."},
    {-32, "Список абонентов не содержит сертификата, соответствующего заданному UID'у"},
    {-31, "UID не задан или имеет заведомо неверный формат. UID должен быть равен серийному номеру сертификата без пробелов."},
    {-30, "Задан неверный алгоритм хеширования. Допустимые значения: SHA,MD5. При проверке подписи эта ошибка может возникнуть из-за неверного формата подписи."},
    {-29, "Ошибка ввода-вывода при работе с файлами."},
    {-28, "Не задан файл секретного ключа."},
    {-27, "Для формирования запроса на сертификат необходимо заполнить параметры Key Gen."},
    {-26, "Параметры Time Out и Key Length должны быть целыми не отрицательными числами."},
    {-25, "В функцию передан нулевой указатель или данные заведомо неверной длины."},
    {-24, "Невозможно получить серийный номер (UID) сертификата."},
    {-23, "Неверный формат файла секретного ключа."},
    {-22, "Ошибка чтения файла секретного ключа."},
    {-21, "Невозможно сформировать Subject сертификата. Переданы данные неверного формата."},
    {-20, "Ошибка записи файла сертификата/запроса на сертификат/секретного ключа/CRL."},
    {-19, "Невозможно сформировать Subject сертификата. Переданы данные неверного формата."},
    {-18, "Невозможно проверить подпись под сертификатом."},
    {-17, "Ошибка проверки подписи под сертификатом."},
    {-16, "Невозможно получить открытый ключ RSA из сертификата."},
    {-15, "Ошибка при обращении к заданному файлу сертификата."},
    {-14, "Исключительная ситуация при выполнении библиотечной функции. "},
    {-13, "На обработку поступил сертификат (запрос на сертификат) формат которого не поддерживается в рамках системы."},
    {-12, "Неверный формат блока шифрованных данных. Алгоритм RC5_ECB."},
    {-11, "Неверный формат блока шифрованных данных. Алгоритм RC2_ECB."},
    {-10, "Невозможно проинициализировать генератор случайных чисел."},
    {-9, "Структура ключа RSA нарушена."},
    {-8, "Невозможно расшифровать сеансовый ключ (RSA)."},
    {-7, "Невозможно зашифровать сеансовый ключ (RSA). Функция шифрования возвращает неверный размер шифрованной последовательности"},
    {-6, "Запрос на выделение памяти вернул нулевое значение. Нехватка свободной оперативной памяти."},
    {-5, "Подпись по алгоритму RSA невозможна."},
    {-4, "Невозможно проинициализировать управляющую структуру для подписи по алгоритму RSA."},
    {-3, "Подпись по алгоритму DSA невозможна."},
    {-2, "Невозможно проинициализировать управляющую структуру для подписи по алгоритму DSA."},
    {-1, "Невозможно проинициализировать криптографическое ядро Open SSL."},
    {-250, "Open SSL certificate verification error. An application specific error. Unused."},
    {-232, "Open SSL certificate verification error. The current candidate issuer certificate was rejected because its keyUsage extension does not permit certificate signing."},
    {-231, "Open SSL certificate verification error. The current candidate issuer certificate was rejected because its issuer name and serial number was present and did not match the authority key identifier of the current certificate."},
    {-230, "Open SSL certificate verification error. The current candidate issuer certificate was rejected because its subject key identifier was present and did not match the authority key identifier current certificate."},
    {-229, "Open SSL certificate verification error. The current candidate issuer certificate was rejected because its subject name did not match the issuer name of the current certificate. Only displayed when the B<-issuer_checks> option is set."},
    {-228, "Open SSL certificate verification error. The root CA is marked to reject the specified purpose."},
    {-227, "Open SSL certificate verification error. The root CA is not marked as trusted for the specified purpose."},
    {-226, "Open SSL certificate verification error. The supplied certificate cannot be used for the specified purpose."},
    {-225, "Open SSL certificate verification error. The basicConstraints pathlength parameter has been exceeded."},
    {-224, "Open SSL certificate verification error. A CA certificate is invalid. Either it is not a CA or its extensions are not consistent with the supplied purpose."},
    {-223, "Open SSL certificate verification error. The certificate has been revoked. Unused."},
    {-222, "Open SSL certificate verification error. The certificate chain length is greater than the supplied maximum depth. Unused."},
    {-221, "Open SSL certificate verification error. No signatures could be verified because the chain contains only one certificate and it is not self signed."},
    {-220, "Open SSL certificate verification error. The issuer certificate of a locally looked up certificate could not be found. This normally means the list of trusted certificates is not complete."},
    {-219, "Open SSL certificate verification error. The certificate chain could be built up using the untrusted certificates but the root could not be found locally."},
    {-218, "Open SSL certificate verification error. The passed certificate is self signed and the same certificate cannot be found in the list of trusted certificates."},
    {-217, "Open SSL certificate verification error. An error occurred trying to allocate memory. This should never happen."},
    {-216, "Open SSL certificate verification error. The CRL nextUpdate field contains an invalid time. Unused."},
    {-215, "Open SSL certificate verification error. The CRL lastUpdate field contains an invalid time. Unused."},
    {-214, "Open SSL certificate verification error. The certificate notAfter field contains an invalid time."},
    {-213, "Open SSL certificate verification error. The certificate notBefore field contains an invalid time."},
    {-212, "Open SSL certificate verification error. The CRL has expired. Unused."},
    {-211, "Open SSL certificate verification error. The CRL is not yet valid. Unused."},
    {-210, "Open SSL certificate verification error. The certificate has expired: that is the notAfter date is before the current time."},
    {-209, "Open SSL certificate verification error. The certificate is not yet valid: the notBefore date is after the current time."},
    {-208, "Open SSL certificate verification error. CRL signature failure"},
    {-207, "Open SSL certificate verification error. The signature of the certificate is invalid."},
    {-206, "Open SSL certificate verification error. The public key in the certificate SubjectPublicKeyInfo could not be read."},
    {-205, "Open SSL certificate verification error. The CRL signature could not be decrypted: this means that the actual signature value could not be determined rather than it not matching the expected value. Unused."},
    {-204, "Open SSL certificate verification error. The certificate signature could not be decrypted. This means that the actual signature value could not be determined rather than it not matching the expected value, this is only meaningful for RSA keys."},
    {-203, "Open SSL certificate verification error. The CRL of a certificate could not be found. Unused."},
    {-202, "Open SSL certificate verification error. The issuer certificate could not be found: this occurs if the issuer certificate of an untrusted certificate cannot be found."},
};

}  // namespace

const char* OwnErrorText(int32_t code) {
  for (const CodeText& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

int32_t OpenSSLFailure(unsigned long queued, int32_t fallback) {
  const auto code = static_cast<int32_t>(static_cast<uint32_t>(queued & 0xFFFFFFFFUL));
  // A code that would read as success or as one of the engine's own codes is not passed on.
  if (code == 0 || (code < 0 && code >= -299)) return fallback;
  return code;
}

}  // namespace zk::ossl
