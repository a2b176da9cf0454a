// Administrator rights: the process token is a member of the Administrators group, which on
// Windows with User Account Control holds only for a process started elevated.
#include "platform/privileges.h"

#include "platform/win32/system.h"

namespace platform {

bool has_administrator_rights() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators))
    return false;
  BOOL member = FALSE;
  // A null token: the calling thread's, which is the process's here. In a filtered token
  // (not elevated) the group is present for deny only and does not count.
  if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  ::FreeSid(administrators);
  return member != FALSE;
}

}  // namespace platform
