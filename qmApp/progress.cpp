#include "progress.h"

#include <cstring>

#include "globals.h"
#include "messages.h"
#include "qm_url.h"

namespace progress {

const char* AnimationText(int32_t tick) {
    static const char* const kTexts[] = {"Saving,please wait", "Saving,please wait.",
                                         "Saving,please wait..", "Saving,please wait..."};
    return kTexts[static_cast<uint32_t>(tick) % 4];
}

bool AppendText(char (&text)[512], const char* suffix) {
    const size_t length = strnlen(text, sizeof(text));
    const size_t extra = std::strlen(suffix);
    if (length + extra >= sizeof(text)) return false;
    std::memcpy(text + length, suffix, extra + 1);
    return true;
}

void FinishWorker(std::atomic<int32_t>& running, int32_t result) {
    int32_t none = kResultNone;
    g_nSaveResult.compare_exchange_strong(none, result);
    running.store(0, std::memory_order_release);
}

HANDLE StartWorker(HWND dialog, LPTHREAD_START_ROUTINE proc, void* param, DWORD* threadId) {
    HANDLE thread = CreateThread(nullptr, 0, proc, param, 0, threadId);
    if (!thread) {
        ShowMessage(dialog, msg::kNoThread, msg::kOutcomeCaption);
        ExitProcess(0);
    }
    return thread;
}

bool StopPressed() { return g_nSaveResult.load() == kResultStopped; }

void JoinWorker(HANDLE& thread) {
    if (!thread) return;
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
        if (woke == WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    CloseHandle(thread);
    thread = nullptr;
}

}  // namespace progress
