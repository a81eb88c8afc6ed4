// Program entry of tovrel.
//
// Windows: the command line is taken as UTF-16 so that every name a user can
// type arrives intact, whatever the ANSI code page. Each argument reaches the
// library as a UTF-16 path behind the byte-order mark and is shown in
// messages as UTF-8. Redirected to a file or pipe, standard error carries
// that UTF-8 text. On a console, the text is handed to the console as UTF-16
// (see ConsoleRelay), so the names appear as typed whatever the console's
// code page.
//
// Elsewhere: the arguments are the names' own bytes.
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/console_relay.h"
#include "cli/driver.h"
#include "platform/command_args.h"
#include "platform/output_file.h"

#ifdef _WIN32
// The Windows shell hands "*.dat" over as it is; the C runtime expands such
// patterns (outside quotes) when the program asks for it, as a POSIX shell
// would have, so that `tovrel *.dat outdir` works there too.
extern "C" {
int _dowildcard = -1;
}

int wmain(int argc, wchar_t** argv) {
  std::vector<CommandArg> args;
  for (int i = 1; i < argc; ++i)
    args.push_back({u_path_from_arg(argv[i]), u_text_from_arg(argv[i])});
  // Asked before the relay turns standard error into a pipe.
  DWORD mode = 0;
  const bool terminal = GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(2)), &mode) != 0;
  ConsoleRelay relay;
  u_remove_temporaries_on_signals();
  return run_tovrel(args, terminal);
}
#else
int main(int argc, char** argv) {
  std::vector<CommandArg> args;
  for (int i = 1; i < argc; ++i) args.push_back({u_path_from_arg(argv[i]), argv[i]});
  u_remove_temporaries_on_signals();
  return run_tovrel(args, isatty(2) != 0);
}
#endif
