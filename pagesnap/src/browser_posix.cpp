#include "browser_posix.h"

#include <fcntl.h>
#include <signal.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace pagesnap {

bool PosixBrowser::Start(const std::string& exe, std::string* why) {
    End();
    if (access(exe.c_str(), X_OK) != 0) {
        *why = exe + " cannot be run: " + std::strerror(errno);
        return false;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qm-browser-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        *why = "no profile folder in " + pattern + ": " + std::strerror(errno);
        return false;
    }
    profile_ = pattern;
    std::vector<std::string> args = {exe,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--remote-debugging-port=0",
                                     "--user-data-dir=" + profile_,
                                     "about:blank"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its own temporary files go into its profile, and are removed with it.
    std::vector<std::string> env = {"TMPDIR=" + profile_};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        *why = std::string("the browser could not be started: ") + std::strerror(errno);
        End();
        return false;
    }
    if (pid_ == 0) {
        setpgid(0, 0);
#ifdef __linux__
        // Ended with the program that started it, however that ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
#endif
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    setpgid(pid_, pid_);
    return true;
}

bool PosixBrowser::WaitForEndpoint(Tick deadline, int* port, std::string* path,
                                   std::string* why) const {
    for (;;) {
        std::ifstream in(profile_ + "/DevToolsActivePort");
        if (in >> *port >> *path) return true;
        int status;
        if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != 0) {
            *why = "the browser ended before it listened for DevTools";
            return false;
        }
        if (Remaining(deadline) == 0) {
            *why = "the browser did not listen for DevTools in time";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void PosixBrowser::End() {
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (!profile_.empty()) {
        // Processes of the group that outlived the first may still write for a moment.
        std::error_code error;
        for (int attempt = 0; attempt < 50; ++attempt) {
            std::filesystem::remove_all(profile_, error);
            if (!std::filesystem::exists(profile_, error)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        profile_.clear();
    }
}

}  // namespace pagesnap
