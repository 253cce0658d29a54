// What the progress dialogs share.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace progress {

constexpr UINT_PTR kTimerId = 0;
constexpr UINT kTickMs = 500;

// "Saving,please wait" followed by tick % 4 dots.
const char* AnimationText(int32_t tick);

// Appends suffix to the NUL-terminated text in a 512-byte buffer; false, and the text
// unchanged, when it would not fit.
bool AppendText(char (&text)[512], const char* suffix);

// The worker's last step: the outcome goes to g_nSaveResult unless Stop has put its own
// there, and only then is the running flag cleared, so the dialog's tick never sees the
// flag before the result.
void FinishWorker(std::atomic<int32_t>& running, int32_t result);

// Starts a worker, or tells the user and ends the program when no thread can be had.
HANDLE StartWorker(HWND dialog, LPTHREAD_START_ROUTINE proc, void* param, DWORD* threadId);

// Whether Stop was pressed: a worker that has not entered the library yet does not.
bool StopPressed();

// Waits until the worker has ended and closes its handle. Messages the worker sends to this
// thread's windows are answered while waiting.
void JoinWorker(HANDLE& thread);

}  // namespace progress
