// The page file a save replaces is kept until the new one exists: moved aside under a
// temporary name in its own folder before the save, put back when the save leaves no new
// file in its place (it failed, or was stopped before the start page was written), and
// deleted once the new one stands there. Shared by qmsave and the desktop program.
#pragma once

#include <string>

class KeptCopy {
public:
    // Moves the file at `path` (this system's spelling) aside, when there is one. False
    // when one is there but cannot be moved: it then stays where it is.
    bool MoveAside(const std::string& path);
    // After the save: deletes the kept file when a new one is in its place, or puts it back.
    void Settle();

private:
    std::string path_, aside_;
};
