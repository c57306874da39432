#include "terminal.h"

#include <cstdio>

#if defined(_WIN32)
#include <conio.h>
#include <io.h>
#else
#include <fcntl.h>
#include <signal.h>
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

namespace {

// The terminal's settings while echo is off, so that Ctrl+C does not leave it silent.
int quietTerminal = -1;
termios savedSettings;
struct sigaction savedInterrupt;

void RestoreAndInterrupt(int signal) {
  tcsetattr(quietTerminal, TCSANOW, &savedSettings);
  sigaction(SIGINT, &savedInterrupt, nullptr);
  raise(signal);
}

}  // namespace

bool ReadSecretLine(const std::string& prompt, std::string& line) {
  // The controlling terminal, not standard input: the password is asked of the person even when
  // the data arrives through a pipe.
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  bool isTerminal = tcgetattr(tty, &savedSettings) == 0;
  if (isTerminal) {
    quietTerminal = tty;
    struct sigaction restore {};
    restore.sa_handler = RestoreAndInterrupt;
    sigaction(SIGINT, &restore, &savedInterrupt);
    termios quiet = savedSettings;
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
    if (!ok) WipeString(line);
  }
  if (quietTerminal >= 0) {
    tcsetattr(tty, TCSAFLUSH, &savedSettings);
    sigaction(SIGINT, &savedInterrupt, nullptr);
    quietTerminal = -1;
  }
  close(tty);
  return ok;
}

#endif

}  // namespace zkmint
