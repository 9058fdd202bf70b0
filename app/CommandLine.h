// Varne's command line, `varne [--help] [--version] [--] [FILE...]`, read with
// QCommandLineParser's conventions before any window exists, so that --help
// and --version need no display. File names stay the bytes they were given
// as: a name that is not UTF-8 opens too.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    bool done = false; // the program ends at once, with this status
    int status = 0;
    std::vector<std::string> files;
};

// Prints the help or the version (on stdout), or what is wrong and the usage
// (on stderr, status 2), when the arguments ask for it or are not valid.
CommandLine ReadCommandLine(int argc, char* argv[]);

// The path made absolute against the current folder, its folder resolved
// when it exists; an absolute path as it is.
std::string AbsolutePath(const std::string& path);

// Starts one more Varne for each file, each a process of its own that this
// one does not wait for.
void OpenInProcessesOfTheirOwn(const char* program, const std::vector<std::string>& files);
