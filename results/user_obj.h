// UserObj: one directory user found for a typed login name.

#ifndef WENDREL_RESULTS_USER_OBJ_H_
#define WENDREL_RESULTS_USER_OBJ_H_

#include <map>
#include <string>

#include "platform/framework/object.h"

namespace wendrel {

// The four names of a directory entry and the first value of each attribute
// the directory returned with it. For cn=jsmith,ou=sales,o=acme: User jsmith,
// UserContext sales.acme, UserFDN cn=jsmith, UserContextFDN ou=sales.o=acme.
// All texts are in the ANSI code page; a record loaded from the results cache
// has no attributes.
class UserObj : public CObject {
 public:
  UserObj(std::string user, std::string user_context, std::string user_fdn,
          std::string user_context_fdn);
  ~UserObj() override;

  std::string GetUser() const { return user_; }
  std::string GetUserContext() const { return user_context_; }
  std::string GetUserFDN() const { return user_fdn_; }
  std::string GetUserContextFDN() const { return user_context_fdn_; }

  // Stores `value` under `name`, replacing a value already there. Names are
  // compared exactly, case included: "Mail" and "mail" are two attributes.
  void SetAttribute(std::string name, std::string value);

  // True, with *value set, when `name` is present; false and *value left as
  // it was otherwise.
  bool GetAttribute(std::string name, std::string* value) const;
  // Every attribute by name, for reports that show a record whole.
  const std::map<std::string, std::string>& GetAttributes() const { return attributes_; }

 private:
  // Declared in this order so that the map (and every value in it) is
  // destroyed before the four texts.
  std::string user_;
  std::string user_context_;
  std::string user_fdn_;
  std::string user_context_fdn_;
  std::map<std::string, std::string> attributes_;
};

}  // namespace wendrel

#endif  // WENDREL_RESULTS_USER_OBJ_H_
