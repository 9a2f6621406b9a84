// SPDX-License-Identifier: MIT
// touchsim: a stand-in for a touch screen's event device, for tests and demos.
//
//   touchsim PATH
//
// Creates a FIFO at PATH and holds it open for writing, so that opening PATH for reading never
// blocks. Reads commands from standard input, one a line, and writes each one's input_event
// records to the FIFO at once; prints one line on standard output for every command saying
// what it wrote. Removes the FIFO when standard input ends or on "quit".
//
// Commands:
//   x N | y N              an ABS_X or ABS_Y record with value N
//   press | release        BTN_LEFT with value 1 or 0
//   syn                    a SYN_REPORT record
//   event TYPE CODE VALUE  any record (numbers in C notation: 0x14a, 330)
//   touch X Y              press, x X, y Y, syn, release, syn
//   repeat N COMMAND       COMMAND N times
//   partial BYTES COMMAND  only the first BYTES bytes of what COMMAND would write
//   play FILE              every E: record of an evemu recording, in its order
//   drain                  discard what no reader has taken: a closed event device forgets
//                          the records its reader did not read
//   leave | return         close the writing end (readers see end of file) or open it again
//   quit
// Lines that are empty or start with # are ignored.
//
// The FIFO keeps what is written while nobody reads it; a real event device would not.

#include <linux/input.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

std::string fifoPath;
int writer = -1;

std::string record(unsigned type, unsigned code, int value, long seconds = 0, long micros = 0)
{
    input_event event;
    std::memset(&event, 0, sizeof event);
    event.time.tv_sec = seconds;
    event.time.tv_usec = micros;
    event.type = static_cast<decltype(event.type)>(type);
    event.code = static_cast<decltype(event.code)>(code);
    event.value = value;
    return std::string(reinterpret_cast<const char *>(&event), sizeof event);
}

bool parseNumber(const std::string &word, long &number)
{
    if (word.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    number = std::strtol(word.c_str(), &end, 0);
    return errno == 0 && *end == '\0';
}

// The records of an evemu recording: lines "E: <sec>.<usec> <type hex> <code hex> <value>".
bool recordsOfRecording(const std::string &file, std::string &bytes, std::string &error)
{
    std::ifstream recording(file);
    if (!recording) {
        error = "cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    while (std::getline(recording, line)) {
        long seconds, micros;
        unsigned type, code;
        int value;
        if (line.compare(0, 2, "E:") != 0)
            continue;
        if (std::sscanf(line.c_str(), "E: %ld.%ld %x %x %d", &seconds, &micros, &type, &code,
                        &value) != 5) {
            error = "not a record: " + line;
            return false;
        }
        bytes += record(type, code, value, seconds, micros);
    }
    return true;
}

// The bytes a command writes; false with a reason when the command makes no sense.
bool recordsOf(std::istringstream &words, std::string &bytes, std::string &error)
{
    std::string verb;
    words >> verb;
    std::string a, b, c;
    long n1 = 0, n2 = 0, n3 = 0;
    if (verb == "x" || verb == "y") {
        words >> a;
        if (!parseNumber(a, n1)) {
            error = verb + " needs a number";
            return false;
        }
        bytes += record(EV_ABS, verb == "x" ? ABS_X : ABS_Y, static_cast<int>(n1));
    } else if (verb == "press" || verb == "release") {
        bytes += record(EV_KEY, BTN_LEFT, verb == "press" ? 1 : 0);
    } else if (verb == "syn") {
        bytes += record(EV_SYN, SYN_REPORT, 0);
    } else if (verb == "event") {
        words >> a >> b >> c;
        if (!parseNumber(a, n1) || !parseNumber(b, n2) || !parseNumber(c, n3)) {
            error = "event needs TYPE CODE VALUE";
            return false;
        }
        bytes += record(static_cast<unsigned>(n1), static_cast<unsigned>(n2), static_cast<int>(n3));
    } else if (verb == "touch") {
        words >> a >> b;
        if (!parseNumber(a, n1) || !parseNumber(b, n2)) {
            error = "touch needs X Y";
            return false;
        }
        bytes += record(EV_KEY, BTN_LEFT, 1) + record(EV_ABS, ABS_X, static_cast<int>(n1))
            + record(EV_ABS, ABS_Y, static_cast<int>(n2)) + record(EV_SYN, SYN_REPORT, 0)
            + record(EV_KEY, BTN_LEFT, 0) + record(EV_SYN, SYN_REPORT, 0);
    } else if (verb == "repeat" || verb == "partial") {
        words >> a;
        if (!parseNumber(a, n1) || n1 < 0) {
            error = verb + " needs a count";
            return false;
        }
        std::string rest;
        std::getline(words, rest);
        std::string once;
        std::istringstream inner(rest);
        if (!recordsOf(inner, once, error))
            return false;
        if (verb == "partial")
            bytes += once.substr(0, static_cast<size_t>(n1));
        else
            for (long i = 0; i < n1; ++i)
                bytes += once;
    } else if (verb == "play") {
        std::string file;
        std::getline(words >> std::ws, file);
        return recordsOfRecording(file, bytes, error);
    } else {
        error = "unknown command: " + verb;
        return false;
    }
    return true;
}

bool writeAll(const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(writer, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void removeFifo(int)
{
    ::unlink(fifoPath.c_str());
    _exit(0);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: touchsim PATH   (commands on standard input)\n");
        return 2;
    }
    fifoPath = argv[1];
    struct stat existing;
    if (::lstat(argv[1], &existing) == 0 && S_ISFIFO(existing.st_mode))
        ::unlink(argv[1]);
    if (::mkfifo(argv[1], 0644) != 0) {
        std::fprintf(stderr, "touchsim: cannot create FIFO %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    signal(SIGTERM, removeFifo);
    signal(SIGINT, removeFifo);
    signal(SIGPIPE, SIG_IGN);
    // Read and write: the open does not wait for a reader, and readers never wait for a writer.
    writer = ::open(argv[1], O_RDWR);
    if (writer < 0) {
        std::fprintf(stderr, "touchsim: cannot open %s: %s\n", argv[1], std::strerror(errno));
        ::unlink(argv[1]);
        return 1;
    }
    std::cout << "ready " << argv[1] << " (" << sizeof(input_event) << "-byte records)" << std::endl;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string verb;
        if (!(words >> verb) || verb[0] == '#')
            continue;
        if (verb == "quit")
            break;
        if (verb == "drain") {
            size_t dropped = 0;
            if (writer >= 0) {
                const int flags = ::fcntl(writer, F_GETFL);
                ::fcntl(writer, F_SETFL, flags | O_NONBLOCK);
                char buffer[4096];
                ssize_t n;
                while ((n = ::read(writer, buffer, sizeof buffer)) > 0)
                    dropped += static_cast<size_t>(n);
                ::fcntl(writer, F_SETFL, flags);
            }
            std::cout << "drained " << dropped << " bytes" << std::endl;
            continue;
        }
        if (verb == "leave" || verb == "return") {
            if (verb == "leave" && writer >= 0) {
                ::close(writer);
                writer = -1;
            } else if (verb == "return" && writer < 0) {
                writer = ::open(argv[1], O_RDWR);
            }
            std::cout << (writer < 0 ? "left: readers see end of file" : "writer open") << std::endl;
            continue;
        }
        std::istringstream command(line);
        std::string bytes, error;
        if (!recordsOf(command, bytes, error)) {
            std::cout << "error: " << error << std::endl;
            continue;
        }
        if (writer < 0 || !writeAll(bytes)) {
            std::cout << "error: the writer has left" << std::endl;
            continue;
        }
        std::cout << "wrote " << bytes.size() / sizeof(input_event) << " records ("
                  << bytes.size() << " bytes)" << std::endl;
    }
    if (writer >= 0)
        ::close(writer);
    ::unlink(argv[1]);
    return 0;
}
