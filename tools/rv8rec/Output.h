// Where rv8rec writes: the rules for an output path, files built under a temporary name and
// renamed into place when complete, outputs that are written straight through (a device or a
// FIFO), the files of a --split export that appear all together or not at all, and the
// removal of temporary files when the program is interrupted.
#pragma once

#include <signal.h>

#include <string>
#include <utility>
#include <vector>

#include "tools/rv8rec/Formats.h"

namespace rv8rec {

// Refuses an output path that is a folder, the recording being exported, or any existing
// recording file (rv8rec never overwrites a recording). Other existing files are replaced.
bool CheckOutputPath(const std::string& output, const std::string& input, std::string& why);

// What an existing path that is neither a regular file nor a folder is ("a FIFO", "a character
// device", ...); nullptr for any other path.
const char* SpecialFileKind(const std::string& path);

// The files of a --split export: each part is completed under its temporary name and handed
// over here; publish() renames them all into place at the end. Parts never published (a
// failure, or the batch destroyed first) are removed, so a failed export leaves none of them.
class OutputBatch {
  public:
    OutputBatch() = default;
    ~OutputBatch() { discard(); }
    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;

    void add(std::string temp, std::string final);
    // Renames every part into place, with SIGINT, SIGTERM and SIGHUP held off meanwhile.
    bool publish(std::string& why);
    void discard();
    std::size_t size() const { return parts_.size(); }

  private:
    std::vector<std::pair<std::string, std::string>> parts_;  // temporary name, final name
};

// One output file. A new file, an existing regular file, or a symbolic link to one is written
// under a temporary name beside the file it replaces (beside the link's target, so the link
// stays) and renamed into place only when complete: a failed export leaves no partial file and
// an earlier file stays intact until the new one is whole. An existing file that is not a
// regular file (a character or block device, a FIFO, a socket) is never replaced: it is opened
// and written straight through, as a shell redirection would, when the format allows it
// (`needs`), and refused otherwise.
class OutputFile {
  public:
    OutputFile() = default;
    ~OutputFile();  // discards an uncommitted file
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens `path` for writing after the checks of CheckOutputPath (against `input`). With a
    // batch, commit() hands the completed file to it instead of renaming it. Returns the
    // descriptor, -1 on failure (`why` says why, naming `path`).
    int open(const std::string& path, const std::string& input, OutputNeeds needs, std::string& why,
             OutputBatch* batch = nullptr);
    bool direct() const { return direct_; }
    // The temporary name (empty when written straight through), for libraries that open by name.
    const std::string& tempPath() const { return temp_; }
    const std::string& path() const { return final_; }
    // Closes the descriptor unless `closed` (someone else closed it) and renames into place
    // (or hands the file to the batch).
    bool commit(std::string& why, bool closed = false);
    void discard(bool closed = false);

  private:
    int openDirect(OutputNeeds needs, unsigned mode, std::string& why);

    std::string final_, target_, temp_;  // as given, where it lands, the temporary name
    int fd_ = -1;
    bool open_ = false;
    bool direct_ = false;
    OutputBatch* batch_ = nullptr;
};

// Makes SIGINT, SIGTERM and SIGHUP remove this process's temporary files and end it with exit
// status 128 + the signal (130, 143, 129), and std::terminate remove them before aborting.
void RemoveTemporariesWhenInterrupted();

// Holds SIGINT, SIGTERM and SIGHUP off in the calling thread while it lives; threads started
// meanwhile keep them blocked for good, so that they are handled by the main thread.
class HoldSignals {
  public:
    HoldSignals();
    ~HoldSignals();
    HoldSignals(const HoldSignals&) = delete;
    HoldSignals& operator=(const HoldSignals&) = delete;

  private:
    sigset_t old_;
};

}  // namespace rv8rec
