// Carrying a file's access ACL over to the file that replaces it, as a
// plain overwrite keeps it. Where the system keeps POSIX ACLs (Linux, in
// the system.posix_acl_access extended attribute) the new file gets the
// old one's ACL, or none when the old one has none, whatever the folder's
// default ACL gave it; elsewhere nothing is done.
#ifndef TAGBATCH_IO_ACCESS_ACL_H_
#define TAGBATCH_IO_ACCESS_ACL_H_

// Gives the open file `to` the access ACL of the file named `from`: read by
// name, which needs no right to read the file itself. A file on a file
// system without ACLs has none. Returns false when the ACL cannot be read
// or set, or the one `to` has cannot be removed; `to` may then hold part
// of the change. errno is then ENOENT when `from` no longer exists.
bool CopyAccessAcl(const char* from, int to);

#endif  // TAGBATCH_IO_ACCESS_ACL_H_
