#include "joblog_win32.h"

#include <windows.h>

#include <cstdio>

#include "winutil_win32.h"

namespace pagesnap {

namespace {

std::string Timestamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

bool WriteLog(const std::string& path, const std::string& text, bool append) {
    HANDLE file =
        CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size();
    CloseHandle(file);
    return ok;
}

}  // namespace

void JobLog::Note(const std::string& line) { notes_ += Timestamp() + "  " + line + "\r\n"; }

std::string JobLog::Fail(const std::string& url, const std::string& reason) {
    std::string text =
        "Pagesnap could not make a picture of the page.\r\n"
        "Address: " +
        url +
        "\r\n"
        "Reason:  ";
    for (char c : reason) {
        if (c == '\n') text += "\r\n         ";
        else text.push_back(c);
    }
    text += "\r\n\r\nSteps:\r\n" + notes_ + Timestamp() + "  gave up\r\n\r\n";
    // A job's own log is about that job alone; the shared one collects, so it is appended to.
    if (!path_.empty() && WriteLog(path_, text, false)) return path_;
    const std::string shared = TempFolder() + "Pagesnap.log";
    return WriteLog(shared, text, true) ? shared : std::string();
}

}  // namespace pagesnap
