#include "launcher_host_win.h"

#include <cstdio>

#include "command_line.h"
#include "exit_codes.h"

namespace orblaunch {
namespace {

// Set by the console control handler, which runs on a thread of its own; the event wakes
// the message loop at once.
volatile LONG g_interrupted = 0;
HANDLE g_interrupt_event = nullptr;
HANDLE g_finished_event = nullptr;  // set once orblaunch has ended its session

// Windows ends the process as soon as the handler of a closing console returns, and after
// about 5 s at the latest: the handler holds it until the session is ended.
const DWORD kCloseHoldMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      InterlockedExchange(&g_interrupted, 1);
      if (g_interrupt_event) SetEvent(g_interrupt_event);
      return TRUE;  // orblaunch ends the session itself
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      InterlockedExchange(&g_interrupted, 1);
      if (g_interrupt_event) SetEvent(g_interrupt_event);
      if (g_finished_event) WaitForSingleObject(g_finished_event, kCloseHoldMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

WindowsLauncherHost::WindowsLauncherHost() {
  g_interrupt_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_finished_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

WindowsLauncherHost::~WindowsLauncherHost() {
  // The handler stays installed: a late Ctrl+C must not kill orblaunch halfway through its
  // exit. It finds the session ended and lets a closing console go at once.
  if (g_finished_event) SetEvent(g_finished_event);
  if (game_) CloseHandle(game_);
}

uint64_t WindowsLauncherHost::NowMs() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<uint64_t>(c.QuadPart) * 1000u / static_cast<uint64_t>(f.QuadPart);
}

void WindowsLauncherHost::Pump(uint32_t ms) {
  const uint64_t deadline = NowMs() + ms;
  HANDLE handles[2];
  DWORD count = 0;
  if (g_interrupt_event) handles[count++] = g_interrupt_event;
  if (game_) handles[count++] = game_;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);  // the session library's pump timer
    }
    uint64_t now = NowMs();
    if (now >= deadline) return;
    DWORD r = MsgWaitForMultipleObjects(count, handles, FALSE, static_cast<DWORD>(deadline - now),
                                        QS_ALLINPUT);
    if (r == WAIT_TIMEOUT || r == WAIT_FAILED) return;
    if (r < WAIT_OBJECT_0 + count) {
      // Ctrl+C or the game's end: still run what is queued so no timer tick is skipped.
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      return;
    }
  }
}

bool WindowsLauncherHost::Interrupted() { return g_interrupted != 0; }

std::string WindowsLauncherHost::ResolveGame(const std::string& path) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (n == 0 || n >= sizeof full) return "";
  DWORD attributes = GetFileAttributesA(full);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return "";
  return full;
}

bool WindowsLauncherHost::StartGame(const std::string& program, const std::vector<std::string>& args,
                                    const std::string& dir, std::string* error) {
  std::string line = BuildCommandLine(program, args);
  STARTUPINFOA si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  // The game writes to the same console or pipes as orblaunch.
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                      dir.empty() ? nullptr : dir.c_str(), &si, &pi)) {
    char text[96];
    std::snprintf(text, sizeof text, "Windows error %lu", static_cast<unsigned long>(GetLastError()));
    *error = text;
    return false;
  }
  CloseHandle(pi.hThread);
  game_ = pi.hProcess;
  return true;
}

bool WindowsLauncherHost::GameEnded(int* exit_code) {
  if (!game_ || WaitForSingleObject(game_, 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  GetExitCodeProcess(game_, &code);
  *exit_code = static_cast<int>(code);
  return true;
}

void WindowsLauncherHost::StopGame() {
  if (game_) TerminateProcess(game_, kExitInterrupted);
}

void WindowsLauncherHost::Say(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace orblaunch
