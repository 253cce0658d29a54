// What the save commands, the progress dialogs and their worker threads share.
#pragma once

#include <atomic>
#include <cstdint>

// The URL of the current save: at most 511 characters and a NUL. Written by the commands
// before any worker exists, read by the workers.
extern char g_szPageUrl[512];

// The outcome of the current save, set to kResultNone by the command before it opens its
// dialog and read by the command after the dialog has ended.
extern std::atomic<int32_t> g_nSaveResult;

enum SaveResult : int32_t {
    kResultNone = 0,  // the user cancelled before a save began
    kResultCompleted = 1,
    kResultStopped = 2,
    kResultError = 3,
};

// Room in every 512-byte text of the program, NUL excluded.
constexpr int kMaxText = 511;
