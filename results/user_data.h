// UserData: the result set of one resolution of a typed login name.

#ifndef WENDREL_RESULTS_USER_DATA_H_
#define WENDREL_RESULTS_USER_DATA_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "results/user_obj.h"

namespace wendrel {

// The typed name (UTF-8), the tree and server of the resolution, and the
// users found, in the order found (the same entry may appear twice). The
// driver owns it; the search, the connection, the cache and the dialog fill
// and read it while they run. One thread at a time; one iteration at a time.
class UserData {
 public:
  // Both texts lose leading and trailing white space (see TrimWhiteSpace).
  UserData(std::string name, std::string tree);
  virtual ~UserData();

  UserData(const UserData&) = delete;
  UserData& operator=(const UserData&) = delete;

  std::string GetLoginName() const { return name_; }
  std::string GetTreeName() const { return tree_; }
  std::string GetServerName() const { return server_; }

  // Replace the text as given, without trimming.
  void SetLoginName(std::string name) { name_ = std::move(name); }
  void SetTreeName(std::string tree) { tree_ = std::move(tree); }
  void SetServerName(std::string server) { server_ = std::move(server); }

  // Appends a record. The arguments come in the order the directory side
  // produces them (leaf value, typed leaf, context, typed context); the
  // iteration cursor does not move.
  UserObj& AddUser(std::string user, std::string user_fdn, std::string user_context,
                   std::string user_context_fdn);

  int GetUserCount() const { return static_cast<int>(users_.size()); }

  // The first record, or null (and no cursor) when there is none.
  UserObj* GetFirstUser();
  // The record after the cursor, or null; null also when no iteration is in
  // progress, and the cursor is gone after the last record.
  UserObj* GetNextUser();

  // --- The results cache (user_data_cache.cc) ------------------------------
  //
  // One registry key per (tree, upper-cased name) below
  // HKLM\Software\Tarvos\LDAP\CachedResults, shared by every login on the
  // workstation; in treeless login the tree part is "+.TreeLess". Each
  // operation reads the login options afresh and lets
  // LDAPConfigOptions::BadReg through to the caller.

  // True when the entry holds the five values other than "User" and the
  // directory still knows the cached user. "UserTree" and "UserServer" are
  // copied into the tree and server as they are read. A stale entry (the
  // directory answers anything but 0) is removed and false returned; the tree
  // key above it stays.
  bool ValidateCachedUser();

  // True when the entry holds all six values: the cached user is then
  // appended as a record without attributes, and the tree and server are the
  // cached ones. "UserTree" and "UserServer" are copied at once, so a later
  // failed read leaves them in place for the search that follows.
  bool ReadCachedUser();

  // Store the first record (the cursor is left on it), or `user`, with this
  // collection's tree and server. True when the entry key could be created or
  // opened; a single value that cannot be written does not change that.
  // CacheFirstUser on a collection without records stores nothing: false.
  bool CacheFirstUser();
  bool CacheChosenUser(const UserObj& user);

  // Creates or opens HKLM\<path> for all access; keys this call creates get
  // an access list of exactly Everyone and Administrators, full control.
  // Keys that exist already keep their own security. Returns the registry's
  // status.
  int32_t CreateCacheKey(const std::string& path, platform::RegKey* key);

 private:
  // CacheFirstUser and CacheChosenUser: the entry of `user` in the current
  // mode, written value by value over whatever the entry held. False for a
  // null user (a collection without records), after the options are read.
  bool StoreUser(const UserObj* user);

  static constexpr size_t kNoCursor = static_cast<size_t>(-1);

  std::string name_;
  std::string tree_;
  std::string server_;
  std::vector<std::unique_ptr<UserObj>> users_;
  // An index rather than an iterator, so that appending during an iteration
  // cannot invalidate it.
  size_t cursor_ = kNoCursor;
};

// `text` without leading and trailing white space, as the multibyte
// character test of the Windows C runtime (_ismbcspace) defines it: the bytes
// 0x09 to 0x0D and 0x20. No lead or trail byte of UTF-8 or of a double-byte
// ANSI code page falls in that set, so cutting them never splits a character;
// the non-breaking space (0xA0 in Windows-1252, C2 A0 in UTF-8) is not white
// space for this test and stays.
std::string TrimWhiteSpace(const std::string& text);

}  // namespace wendrel

#endif  // WENDREL_RESULTS_USER_DATA_H_
