// Finding what Varne kept of a file, so that opening the file can offer it
// back: an emergency copy of unsaved text (NAME.varne-unsaved, written when
// Varne was ended without being asked) and the old content of a save in
// place that never finished (NAME.varne-backup, beside a file that may be
// torn). Only copies beside the file count, named as Varne names them, and
// only the person's own: a file someone else put there is no copy of theirs.
#pragma once

#include <optional>
#include <string>

struct KeptCopy {
    enum class Kind { unsaved, backup };
    Kind kind;
    std::string path;
};

// The copy of the file at path most worth offering, if any: an emergency copy
// newer than the file (or any, when the file is gone), else the old content
// of an unfinished save. A backup is offered whatever its age: it outlives
// its save only when that save did not finish, and the file it belongs to is
// written after it, torn or not. The newest of a kind comes first.
std::optional<KeptCopy> FindKeptCopy(const std::string& path);
