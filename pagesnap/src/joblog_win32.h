// What a person reads when a picture did not appear: the job's steps and the reason,
// in path + ".log" beside the picture that was asked for. A job that succeeds leaves no log.
#pragma once

#include <string>

namespace pagesnap {

class JobLog {
public:
    // `logPath` empty: the job named no usable place. Such jobs, and jobs whose own log
    // cannot be written, go to Pagesnap.log in the temporary folder.
    explicit JobLog(const std::string& logPath) : path_(logPath) {}

    void Note(const std::string& line);
    // Writes the log with `reason` first. Returns the path written, empty if none could be.
    std::string Fail(const std::string& url, const std::string& reason);

private:
    std::string path_;
    std::string notes_;
};

}  // namespace pagesnap
