#include <linux/limits.h>
#include <sys/xattr.h>

#include <cerrno>

#include "io/access_acl.h"

namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";

// Whether a failed call on the ACL only means that there is none.
bool NoAcl() { return errno == ENODATA || errno == ENOTSUP; }

// The largest value the system keeps in an extended attribute. A buffer
// of this program's own, since only the main thread replaces files; the
// system copies the ACL alone into it.
char g_acl[XATTR_SIZE_MAX];

}  // namespace

bool CopyAccessAcl(const char* from, int to) {
  // Its size first: the system would clear a buffer of the size offered on
  // every call, and most files have no ACL.
  ssize_t size = getxattr(from, kAccessAcl, nullptr, 0);
  if (size > 0) size = getxattr(from, kAccessAcl, g_acl, sizeof g_acl);
  if (size > 0)
    return fsetxattr(to, kAccessAcl, g_acl, static_cast<size_t>(size), 0) == 0;
  if (size < 0 && !NoAcl()) return false;
  // None, so the new file may not keep one that its folder's default ACL
  // gave it.
  return fremovexattr(to, kAccessAcl) == 0 || NoAcl();
}
