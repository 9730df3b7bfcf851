// The choice among several found users: the selection dialog, run modally
// without a parent.

#ifndef WENDREL_CORE_USER_CHOICE_H_
#define WENDREL_CORE_USER_CHOICE_H_

namespace wendrel {

class UserData;
class UserObj;

// The user chosen with OK (or a double-click), or null after Cancel, with no
// row selected, or when the dialog cannot be shown. The record belongs to
// `users`. LDAPConfigOptions::BadReg from the dialog passes through.
UserObj* ChooseUser(UserData& users);

}  // namespace wendrel

#endif  // WENDREL_CORE_USER_CHOICE_H_
