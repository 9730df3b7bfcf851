#include "core/user_choice.h"

#include "platform/ui.h"
#include "results/selection_dialog.h"

namespace wendrel {

UserObj* ChooseUser(UserData& users) {
  CSelectionDlg dialog(users, nullptr);
  if (dialog.DoModal() != platform::kIdOk) return nullptr;
  return dialog.selected_user();
}

}  // namespace wendrel
