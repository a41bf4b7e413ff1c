// The Maildir store server: serves the user's Maildir++ tree through the store interfaces.
//
// Folders: the root is INBOX, then every ".Name" directory of the root (nested ones such as
// ".A.B" included) that holds "cur" and "new" directories, in byte order of the directory name.
// Symbolic links, entries without "cur" or "new", files in place of directories and names holding
// ".." or "/" are not folders and are never written to. ".Trash" is the store's Deleted Items: its
// skip value is 1, every other folder's is 0. A store that does not exist has no folders and is
// never created.
//
// Messages: the regular files of "cur" and "new" whose names do not begin with ".", together, in
// byte order of the file name (a Maildir name begins with its delivery time, so the oldest copy
// comes first). FirstMessage takes a snapshot of that list; message ids are positions in the
// folder's latest snapshot. A message is found again by the unique part of its name (before
// ":2,"), so a flag change by a mail client between the snapshot and the access does not lose it.
//
// MessageSource gives the file's bytes decoded injectively (see SourceDecoding.h) and fails when
// the file has gone or cannot be read. DeleteMessage(id, 0) moves the file into ".Trash/cur" under
// its own name with one rename, never replacing a file there (a name already taken gets a ".N"
// after its unique part), and first creates ".Trash" with "cur", "new", "tmp" and a
// "maildirfolder" file, whole or not at all, if it does not exist; DeleteMessage(id, 1) removes the
// file. A file gone in between leaves everything as it is and fails. No message file is ever
// written to, and nothing else in the store is touched.
//
// Memory: a folder holds the names of its latest snapshot; a source text is read in pieces and
// never held by the server.
#pragma once

#include <filesystem>

#include "store/Registration.h"

namespace pairsweep::store::maildir {

// Registers the server as the class kCLASS_OEFolderManager. Each folder manager it creates serves
// the store at $MAILDIR when that is set and not empty, else at ~/Maildir, as resolved at the
// moment the folder manager is created.
[[nodiscard]] TRegistration RegisterMaildirServer();

// The same for the store at `root`.
[[nodiscard]] TRegistration RegisterMaildirServer(std::filesystem::path root);

// Where RegisterMaildirServer() looks now: $MAILDIR, else the home directory's "Maildir".
std::filesystem::path DefaultMaildirRoot();

}  // namespace pairsweep::store::maildir
