#include "globals.h"

char g_szPageUrl[512];
std::atomic<int32_t> g_nSaveResult{kResultNone};
