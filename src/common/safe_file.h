// SPDX-License-Identifier: MIT
#ifndef KESTRILAVON_SAFE_FILE_H
#define KESTRILAVON_SAFE_FILE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <utility>

// The files this system reads as root and replaces: read without following a link or waiting
// on a FIFO, written whole under a hidden name beside them and renamed into place.

// An open descriptor, closed with its owner.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor();
    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    int close();  // close's result, where its error matters

private:
    int fd_;
};

// What a file must be to be read.
struct ReadRules {
    off_t largest;             // in bytes
    const char *kind;          // as in "too large for a rules file"
    bool rootsOnly = false;    // refuse a file whose owner is not root
    bool toReplace = true;     // refusals say why it will not be replaced
};

struct FileRead {
    bool missing = false;      // there is no file by that name (problem says so too)
    std::string problem;       // one line, empty when the file was read
    std::string text;
    struct stat status {};     // mode, uid, gid, st_nlink (hard links) of the file read
    Descriptor file;           // the file read, open: the writer copies its properties from it
};

// The file name in folder (shown as shownPath in messages): opened with O_NOFOLLOW and
// O_NONBLOCK, taken only as a regular file no larger than rules.largest.
FileRead readFileAt(int folder, const std::string &name, const std::string &shownPath, const ReadRules &rules);
// The same by path; shown names the file in messages ("it" where the caller names it before).
FileRead readFile(const std::string &path, const ReadRules &rules, const std::string &shown);

// The folder that path names its file in, and the file's name there.
std::pair<std::string, std::string> folderAndName(const std::string &path);
Descriptor openFolder(const std::string &folder);

struct WriteProblem {
    std::string line;          // one line naming the file, empty when written
    std::string reason;        // the system's reason alone, where there is one
};

// Puts text at name in folder: under the hidden name .NAME.PID.N (which udev, reading only
// *.rules, never reads), created exclusively, written, synced, renamed over name, and the folder
// synced. With old (the file read there), nothing is written when the text is the same;
// otherwise the new file keeps old's mode, group, ACLs and extended attributes and belongs to
// root (to the writer itself when it is not root), and a hard-linked old file is refused. Without
// old, a fresh file of mode 0644 replaces whatever is at name. On any problem name is left as it
// was.
WriteProblem replaceFileAt(int folder, const std::string &folderPath, const std::string &name,
                           const std::string &text, const FileRead *old);

#endif
