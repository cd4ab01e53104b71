// The run's files in the working directory. The translator names them in
// upper case ("REMITEX.DAT", "REMITEX.LOG", ...) and finds them whatever the
// case of the names on disk, as on a platform whose file names ignore case.
#pragma once

#include <string>

namespace remitex {

// The name of the directory entry of the working directory that matches
// `name` without regard to case: `name` itself when an entry of exactly that
// name exists (even a dangling link), otherwise the first matching entry in
// byte order, otherwise `name` unchanged (so a new file gets that name).
std::string findFile(const char *name);

// Removes every file of the working directory whose name matches `name`
// without regard to case. A missing file is no error.
void removeFiles(const char *name);

}  // namespace remitex
