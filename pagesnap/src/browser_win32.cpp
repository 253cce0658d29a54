#include "browser_win32.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cdp.h"

namespace pagesnap {

namespace {

constexpr char kProfilePrefix[] = "qmPagesnap-";
// Files the Linux wrapper leaves in the profile folder for us.
constexpr char kLinuxErrorLog[] = "browser.log";
constexpr char kLinuxExitStatus[] = "exit-status";
constexpr char kWindowsErrorLog[] = "chrome_debug.log";

// Wine's own export: the Linux path of a Windows one. Its presence is also how we know
// that we run under Wine.
using UnixFileNameFn = char*(CDECL*)(const WCHAR*);

UnixFileNameFn WineUnixFileName() {
    static const UnixFileNameFn fn = reinterpret_cast<UnixFileNameFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    return fn;
}

bool UnderWine() { return WineUnixFileName() != nullptr; }

bool ToUnixPath(const std::string& windowsPath, std::string* unixPath) {
    UnixFileNameFn fn = WineUnixFileName();
    if (!fn) return false;
    char* name = fn(AnsiToWide(windowsPath).c_str());
    if (!name) return false;
    *unixPath = name;
    HeapFree(GetProcessHeap(), 0, name);
    return true;
}

// Under Wine a file that is not a Windows executable ("MZ") is a Linux program or script.
bool IsWindowsExecutable(const std::string& path) {
    std::string head;
    return ReadFilePrefix(path, 2, &head) && head == "MZ";
}

// One argument in the form the Windows command-line parser splits back into the same
// argument (and Wine does the same when it starts a Linux program).
std::string QuoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

std::string JoinArguments(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty()) line.push_back(' ');
        line += QuoteArgument(arg);
    }
    return line;
}

std::string EnvFolder(const char* name) {
    char value[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    if (n == 0 || n >= sizeof value) return std::string();
    std::string folder(value, n);
    if (folder.back() != '\\') folder.push_back('\\');
    return folder;
}

std::vector<std::string> UsualPlaces() {
    std::vector<std::string> places;
    if (UnderWine()) {
        for (const char* linux :
             {"Z:\\usr\\bin\\chromium", "Z:\\usr\\bin\\chromium-browser",
              "Z:\\usr\\bin\\google-chrome", "Z:\\usr\\bin\\google-chrome-stable",
              "Z:\\usr\\bin\\microsoft-edge", "Z:\\snap\\bin\\chromium"}) {
            places.push_back(linux);
        }
    }
    // A 32-bit program sees "Program Files (x86)" as ProgramFiles; ProgramW6432 is the other one.
    for (const char* root : {"ProgramW6432", "ProgramFiles", "ProgramFiles(x86)", "LOCALAPPDATA"}) {
        const std::string folder = EnvFolder(root);
        if (folder.empty()) continue;
        places.push_back(folder + "Google\\Chrome\\Application\\chrome.exe");
        places.push_back(folder + "Microsoft\\Edge\\Application\\msedge.exe");
    }
    return places;
}

std::vector<std::string> HeadlessFlags(int viewportWidth, const std::string& profile) {
    return {
        "--headless",
        "--disable-gpu",
        "--no-first-run",
        "--no-default-browser-check",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        "--disable-extensions",
        "--disable-default-apps",
        "--hide-scrollbars",
        "--mute-audio",
        "--remote-debugging-port=0",
        "--window-size=" + std::to_string(viewportWidth) + ",800",
        "--user-data-dir=" + profile,
    };
}

LONG g_profileCount = 0;

}  // namespace

bool ChooseBrowser(const std::string& configured, BrowserChoice* choice, std::string* why) {
    std::vector<std::string> places;
    if (!configured.empty()) {
        places.push_back(configured);
    } else {
        places = UsualPlaces();
    }
    for (const std::string& place : places) {
        if (!FileExists(place)) continue;
        choice->exe = place;
        choice->linuxProgram = UnderWine() && !IsWindowsExecutable(place);
        return true;
    }
    if (!configured.empty()) {
        *why = "the browser named in Pagesnap.ini was not found: " + configured;
    } else {
        *why = "no Chromium-family browser was found (looked for";
        for (const std::string& place : places) *why += "\n  " + place;
        *why +=
            "\n); install Google Chrome, Microsoft Edge or Chromium, or name the browser in "
            "Pagesnap.ini beside Pagesnap.exe";
    }
    return false;
}

bool Browser::Start(const BrowserChoice& choice, int viewportWidth, Tick killAt, std::string* why) {
    End();
    // A process number comes back (under Wine, soon), and the profile of an earlier one with
    // it may not be gone yet: the next name is tried.
    bool made = false;
    for (int tries = 0; tries < 64 && !made; ++tries) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%lu-%ld", kProfilePrefix, GetCurrentProcessId(),
                      InterlockedIncrement(&g_profileCount));
        profile_ = TempFolder() + name;
        made = CreateDirectoryA(profile_.c_str(), nullptr) != 0;
        if (!made && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    if (!made) {
        *why = "could not create the browser's temporary profile " + profile_ + ": " +
               LastErrorText(GetLastError());
        profile_.clear();
        return false;
    }
    linuxProgram_ = choice.linuxProgram;
    ended_ = false;

    std::string commandLine;
    std::string application;
    if (linuxProgram_) {
        std::string unixBrowser, unixProfile;
        if (!ToUnixPath(choice.exe, &unixBrowser) || !ToUnixPath(profile_, &unixProfile)) {
            *why = "could not translate the browser's paths for Linux";
            return false;
        }
        // The wrapper outlives us if need be: it bounds the browser's life, keeps its
        // complaints and exit status where WaitForEndpoint looks for a moment, and removes
        // the profile. It keeps none of the descriptors Wine hands a Linux child (our
        // standard handles among them), so nobody who reads our output waits on the browser.
        const char* script =
            "exec </dev/null >/dev/null 2>&1\n"
            "for fd in /proc/$$/fd/*; do fd=${fd##*/}; ((fd > 2)) && eval \"exec $fd>&-\"; done\n"
            "d=$1; t=$2; shift 2\n"
            "PATH=/usr/local/bin:/usr/bin:/bin; export PATH\n"
            "timeout -k 2 \"$t\" \"$@\" 2>\"$d/browser.log\"\n"
            "echo $? >\"$d/exit-status\"\n"
            "sleep 2\n"
            "rm -rf -- \"$d\"\n";
        char limit[32];
        // "0" would mean no limit at all to timeout(1).
        const DWORD left = Remaining(killAt) > 100 ? Remaining(killAt) : 100;
        std::snprintf(limit, sizeof limit, "%.1f", left / 1000.0);
        std::vector<std::string> args = {"Z:\\bin\\bash", "-c",  script,      "bash",
                                         unixProfile,     limit, unixBrowser, "--no-sandbox"};
        for (const std::string& flag : HeadlessFlags(viewportWidth, unixProfile))
            args.push_back(flag);
        args.push_back("about:blank");
        application = "Z:\\bin\\bash";
        commandLine = JoinArguments(args);
    } else {
        std::vector<std::string> args = {choice.exe, "--enable-logging", "--v=0"};
        for (const std::string& flag : HeadlessFlags(viewportWidth, profile_)) args.push_back(flag);
        args.push_back("about:blank");
        application = choice.exe;
        commandLine = JoinArguments(args);

        job_ = CreateJobObjectA(nullptr, nullptr);
        if (job_) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits,
                                    sizeof limits);
        }
    }

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const DWORD flags = linuxProgram_ ? 0 : (CREATE_SUSPENDED | CREATE_NO_WINDOW);
    if (!CreateProcessA(application.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &info)) {
        *why = "could not start the browser " + choice.exe + ": " + LastErrorText(GetLastError());
        return false;
    }
    if (linuxProgram_) {
        // Wine gives no usable handle for a Linux process.
        if (info.hProcess) CloseHandle(info.hProcess);
        if (info.hThread) CloseHandle(info.hThread);
        return true;
    }
    // In the job before it runs, so that nothing it starts escapes the kill.
    if (job_ && !AssignProcessToJobObject(job_, info.hProcess)) {
        CloseHandle(job_);
        job_ = nullptr;
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    return true;
}

std::string Browser::LastWords() const {
    const std::string tail =
        TailOfFile(profile_ + "\\" + (linuxProgram_ ? kLinuxErrorLog : kWindowsErrorLog), 12);
    return tail.empty() ? std::string() : "; its last words:\n" + tail;
}

std::string Browser::ExitReport() const {
    if (linuxProgram_) {
        std::string status;
        ReadFilePrefix(profile_ + "\\" + kLinuxExitStatus, 16, &status);
        while (!status.empty() && (status.back() == '\n' || status.back() == '\r'))
            status.pop_back();
        return "the browser ended before it was ready (exit status " + status +
               (status == "124" || status == "137" ? ", ended for taking too long" : "") + ")" +
               LastWords();
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return "the browser ended before it was ready (exit code " + std::to_string(code) + ")" +
           LastWords();
}

bool Browser::WaitForEndpoint(Tick deadline, int* port, std::string* path, std::string* why) {
    const std::string portFile = profile_ + "\\DevToolsActivePort";
    for (;;) {
        std::string text;
        if (ReadFilePrefix(portFile, 4096, &text) && ParseActivePort(text, port, path)) return true;
        const bool gone = linuxProgram_ ? FileExists(profile_ + "\\" + kLinuxExitStatus)
                                        : WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
        if (gone) {
            *why = ExitReport();
            return false;
        }
        if (Remaining(deadline) == 0) {
            *why = "the browser did not open its DevTools port in time" + LastWords();
            return false;
        }
        Sleep(50);
    }
}

void Browser::End() {
    if (ended_) return;
    ended_ = true;
    if (process_) {
        // A browser asked to close needs a moment to go; one that does not is ended.
        WaitForSingleObject(process_, 1500);
        if (job_) {
            TerminateJobObject(job_, 1);
        } else {
            TerminateProcess(process_, 1);
        }
        WaitForSingleObject(process_, 2000);
        CloseHandle(process_);
        process_ = nullptr;
    }
    if (job_) {
        CloseHandle(job_);
        job_ = nullptr;
    }
    // The Linux wrapper removes its own profile once the browser has gone; removing it here
    // could race the browser's last writes.
    if (!linuxProgram_ && !profile_.empty()) {
        // Files of processes just ended can stay locked for a moment.
        for (int attempt = 0; attempt < 20 && !RemoveTree(profile_); ++attempt) Sleep(100);
    }
    profile_.clear();
}

void RemoveStaleProfiles() {
    const std::string temp = TempFolder();
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((temp + kProfilePrefix + "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        const char* rest = entry.cFileName + sizeof(kProfilePrefix) - 1;
        char* end = nullptr;
        const unsigned long owner = std::strtoul(rest, &end, 10);
        if (end == rest || *end != '-') continue;
        if (owner == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, owner);
        const bool alive = process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        if (process) CloseHandle(process);
        if (!alive) RemoveTree(temp + entry.cFileName);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

}  // namespace pagesnap
