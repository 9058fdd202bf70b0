#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What the parser took for file names, as the bytes given: everything after
// "--", a lone "-", and whatever does not start with a dash.
std::vector<std::string> FileArguments(int argc, char* argv[]) {
    std::vector<std::string> files;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (!onlyFiles && argument == "--")
            onlyFiles = true;
        else if (onlyFiles || argument == "-" || argument[0] != '-')
            files.push_back(argument);
    }
    return files;
}

void Print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

} // namespace

CommandLine ReadCommandLine(int argc, char* argv[]) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Varne, a small, fast editor for web source files.");
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument("FILE",
                                 "The file to open; one that does not exist yet is created by "
                                 "the first Save. Each further file opens in a window of its own.",
                                 "[FILE...]");
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Without an application object the parser cannot name the program.
    const QString usage = parser.helpText().replace("<executable_name>", "varne");

    CommandLine line;
    if (!parser.parse(arguments)) {
        Print(stderr, "varne: " + parser.errorText() + "\n" + usage);
        line.done = true;
        line.status = 2;
    } else if (parser.isSet(help)) {
        Print(stdout, usage);
        line.done = true;
    } else if (parser.isSet(version)) {
        std::printf("varne %s\n", VARNE_VERSION);
        line.done = true;
    } else {
        line.files = FileArguments(argc, argv);
    }
    return line;
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    char here[PATH_MAX];
    if (!::getcwd(here, sizeof here))
        return path;
    const size_t slash = path.rfind('/');
    const std::string folder = std::string(here) + "/" + path.substr(0, slash + 1);
    const std::string name = path.substr(slash + 1);
    if (name != "." && name != "..") {
        if (char* resolved = ::realpath(folder.c_str(), nullptr)) {
            std::string absolute = resolved;
            std::free(resolved);
            return absolute + (absolute == "/" ? "" : "/") + name;
        }
    }
    std::string absolute = here;
    return absolute + (absolute == "/" ? "" : "/") + path;
}

// Each is started by a child that ends at once, so that the new process
// belongs to no Varne that would have to wait for it.
void OpenInProcessesOfTheirOwn(const char* program, const std::vector<std::string>& files) {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string binary = length > 0 ? std::string(self, size_t(length)) : program;
    for (const std::string& file : files) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::fork() == 0) {
                char* const arguments[] = {const_cast<char*>(program), const_cast<char*>("--"),
                                           const_cast<char*>(file.c_str()), nullptr};
                ::execv(binary.c_str(), arguments);
                std::perror("varne: could not start another Varne");
            }
            ::_exit(0);
        }
        if (child > 0)
            ::waitpid(child, nullptr, 0);
    }
}
