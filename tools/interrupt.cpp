#include "interrupt.h"

#include <csignal>

#include "qm_url.h"

#ifdef _WIN32
#  include <windows.h>
#endif

namespace qmsave {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    g_interrupted = 1;
    qm_StopSave();
    return TRUE;
}
#else
void OnInterrupt(int) {
    g_interrupted = 1;
    qm_StopSave();
}
#endif

}  // namespace

void StopOnInterrupt() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
#endif
}

bool Interrupted() { return g_interrupted != 0; }

}  // namespace qmsave
