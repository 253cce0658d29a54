// How the desktop program hands a job to Pagesnap, as both sides (and their tests) know it.
//
// The program writes the job text into the shared block, zeros after it, then sends a
// button-down and, after the click gap, a button-up to the renderer's child window. Both
// the renderer's top-level window and that child are titled kWindowTitle. The job text is
// the URL, the separator, the picture path (without ".jpg") and the separator again; the
// only answer is the picture file, or a log beside it.
#pragma once

#include <cstddef>

namespace pagesnap {

constexpr char kProgramFile[] = "Pagesnap.exe";
constexpr char kWindowTitle[] = "qmPagesnap";
constexpr char kJobMappingName[] = "qmPagesnap";
constexpr std::size_t kJobBlockSize = 1024;
constexpr char kJobSeparator[] = "JWPQqm";
constexpr std::size_t kJobSeparatorLength = sizeof kJobSeparator - 1;
constexpr unsigned kClickGapMs = 100;

}  // namespace pagesnap
