#include "document/KeptCopies.h"

#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "document/FileAccess.h"
#include "document/SaveSteps.h"

namespace {

struct Found {
    KeptCopy copy;
    struct timespec modified;
};

bool Later(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// "", or "-" and a number from 2 on: what a taken name gets after the ending.
bool IsNumbering(const std::string& tail) {
    if (tail.empty())
        return true;
    if (tail.size() < 2 || tail[0] != '-' || tail[1] == '0')
        return false;
    return tail.find_first_not_of("0123456789", 1) == std::string::npos;
}

// Whether entry is a name Varne gives a copy of the file named base with the
// suffix: base (cut as a long name is) + suffix + its numbering.
bool IsCopyName(const std::string& entry, const std::string& base, const std::string& suffix) {
    for (size_t at = entry.find(suffix); at != std::string::npos; at = entry.find(suffix, at + 1)) {
        const std::string ending = entry.substr(at);
        if (IsNumbering(ending.substr(suffix.size())) &&
            entry == savesteps::NameWithEnding(base, ending))
            return true;
    }
    return false;
}

} // namespace

std::optional<KeptCopy> FindKeptCopy(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    struct stat file;
    const bool fileExists = ::stat(path.c_str(), &file) == 0;
    DIR* listing = base.empty() ? nullptr : ::opendir(folder.c_str());
    if (!listing)
        return std::nullopt;
    std::vector<Found> found;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        const bool unsaved = IsCopyName(name, base, unsavedSuffix);
        if (!unsaved && !IsCopyName(name, base, backupSuffix))
            continue;
        const std::string copyPath = folder + "/" + name;
        struct stat copy;
        if (::lstat(copyPath.c_str(), &copy) != 0 || !S_ISREG(copy.st_mode) ||
            copy.st_uid != ::geteuid())
            continue;
        if (unsaved && fileExists && !Later(copy.st_mtim, file.st_mtim))
            continue;
        found.push_back(
            {{unsaved ? KeptCopy::Kind::unsaved : KeptCopy::Kind::backup, copyPath}, copy.st_mtim});
    }
    ::closedir(listing);

    const Found* best = nullptr;
    for (const Found& candidate : found) {
        const bool betterKind = best && candidate.copy.kind == KeptCopy::Kind::unsaved &&
                                best->copy.kind == KeptCopy::Kind::backup;
        const bool sameKindLater = best && candidate.copy.kind == best->copy.kind &&
                                   Later(candidate.modified, best->modified);
        if (!best || betterKind || sameKindLater)
            best = &candidate;
    }
    if (!best)
        return std::nullopt;
    return best->copy;
}
