// LDAPSearchUser: resolves a typed short name to the matching directory users
// across the configured servers, trees and search contexts.
//
// SearchForAUser returns normally only with at least one found user in the
// request. Every failure leaves as a finished message text (std::string), or
// as SearchCancelled when the user declines to search further trees. The only
// boxes it shows itself are the continue question and the missing-context
// notice.

#ifndef WENDREL_SEARCH_LDAP_SEARCH_USER_H_
#define WENDREL_SEARCH_LDAP_SEARCH_USER_H_

#include <memory>
#include <string>

namespace wendrel {

class LDAPConfigOptions;
class LDAPServer;
class LDAPConn;
class LDAPTree;
class LDAPPruning;
class UserData;

class LDAPSearchUser {
 public:
  struct SearchCancelled {};

  // Told of each server the walk passes over without searching it, for a
  // diagnosis (wendrel-doctor); a login installs none.
  class SkipObserver {
   public:
    enum class Why {
      kNotBound,    // no connection, or the bind was not answered
      kNoTreeName,  // the bind was answered, but no tree name could be read
      kOtherTree,   // its tree is not the one asked for
    };
    virtual ~SkipObserver() = default;
    // index: the server's position in the server list.
    virtual void ServerSkipped(int index, const std::string& server, Why why) = 0;
  };

  LDAPSearchUser();
  virtual ~LDAPSearchUser();

  LDAPSearchUser(const LDAPSearchUser&) = delete;
  LDAPSearchUser& operator=(const LDAPSearchUser&) = delete;

  // One call per object.
  void SearchForAUser(UserData& request);

  // Null (the default) for none. Changes nothing about the search.
  void SetSkipObserver(SkipObserver* observer) { observer_ = observer; }

 private:
  // Copies the server's tree name into the connection's saved slot and
  // decides whether the server is searched; in treeless mode the request
  // takes the server's tree.
  bool ChooseTree(const std::string& server, UserData& request);
  // The base and scope of the server's first search; leaves pruning_ set
  // when the request's tree has configured contexts.
  void SetUpScope(const UserData& request, std::string* base, int* scope);

  std::unique_ptr<LDAPConfigOptions> options_;
  std::unique_ptr<LDAPServer> server_;
  std::unique_ptr<LDAPConn> conn_;
  std::unique_ptr<LDAPTree> tree_;
  std::unique_ptr<LDAPPruning> pruning_;
  SkipObserver* observer_ = nullptr;
};

}  // namespace wendrel

#endif  // WENDREL_SEARCH_LDAP_SEARCH_USER_H_
