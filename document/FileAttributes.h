// What a file is besides its bytes, carried over to the new file that replaces
// it: extended attributes (the access ACL among them) and the mode a new file
// gets. Only document/ uses these.
#pragma once

#include <sys/types.h>

namespace fileattributes {

// The mode the system gives a new file: 0666 less the process's umask, which
// is read without being changed (other threads may be creating files).
mode_t NewFileMode();

// Gives to every extended attribute of from that belongs to the file rather
// than to the system's view of its content, the access ACL included; an access
// ACL that to inherited from its folder but from lacks is removed. Returns
// false, with errno set, when one of them could not be given, for example a
// security attribute the user may read but not set.
bool CopyAttributes(int from, int to);

} // namespace fileattributes
