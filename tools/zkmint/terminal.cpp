#include "terminal.h"

#include <cstdio>

#if defined(_WIN32)
#include <conio.h>
#include <io.h>
#else
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace zkmint {

void WipeString(std::string& secret) {
  volatile char* bytes = secret.empty() ? nullptr : &secret[0];
  for (size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
  secret.clear();
}

#if defined(_WIN32)

bool ReadSecretLine(const std::string& prompt, std::string& line) {
  if (!_isatty(_fileno(stdin))) return false;
  std::fputs(prompt.c_str(), stderr);
  line.clear();
  for (;;) {
    int c = _getch();
    if (c == '\r' || c == '\n') break;
    if (c == 3 || c == 27) {  // Ctrl+C, Esc: the user cancels
      WipeString(line);
      std::fputs("\n", stderr);
      return false;
    }
    if (c == '\b') {
      if (!line.empty()) line.pop_back();
    } else if (c == 0 || c == 0xE0) {
      _getch();  // second half of a function or arrow key
    } else {
      line += static_cast<char>(c);
    }
  }
  std::fputs("\n", stderr);
  return true;
}

#else

bool ReadSecretLine(const std::string& prompt, std::string& line) {
  // The controlling terminal, not standard input: the password is asked of the person even when
  // the data arrives through a pipe.
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  termios saved{};
  bool isTerminal = tcgetattr(tty, &saved) == 0;
  if (isTerminal) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    isTerminal = tcsetattr(tty, TCSAFLUSH, &quiet) == 0;
  }
  bool ok = false;
  if (isTerminal) {
    ssize_t unused = write(tty, prompt.data(), prompt.size());
    (void)unused;
    line.clear();
    char c = 0;
    ssize_t got;
    while ((got = read(tty, &c, 1)) == 1 && c != '\n') line += c;
    ok = got == 1;  // a line end, not end of input or an error
    c = 0;
    tcsetattr(tty, TCSAFLUSH, &saved);
    if (!ok) WipeString(line);
  }
  close(tty);
  return ok;
}

#endif

}  // namespace zkmint
