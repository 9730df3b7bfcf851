// The selection dialog as data: what a hosting process is handed when it
// presents the user selection dialog natively, where there is no window
// system. Plain C layout and C linkage, so that a host program (qzlogin) and
// the extension, each with its own copy of the platform code, agree on it
// without sharing anything but this header.
//
// A host that can present the dialog exports
//
//   extern "C" int WendrelHostSelectionDialog(const WendrelDialogModel* model,
//                                             int* chosen_row);
//
// from its executable (linked with -rdynamic); the extension looks it up with
// dlsym(RTLD_DEFAULT, "WendrelHostSelectionDialog") each time it shows the
// dialog. The function returns the dialog's result, kWendrelDialogOk (1, OK or
// a double-click), kWendrelDialogCancel (2, Cancel, Escape or the close box)
// or kWendrelDialogCannotCreate (-1), and stores in *chosen_row the display
// row that is selected when the dialog ends (-1 for none). The row only
// counts after OK. A host that tells a double-click on a row from the OK
// button may return kWendrelDialogDoubleClick (3) with that row: the dialog
// then handles the list's double-click notification, which ends it with OK
// as well. The model and everything it points to belong to the
// extension and are valid only during the call.
//
// All texts are zero-terminated in the ANSI code page of the extension (what
// the window would show), never null.

#ifndef WENDREL_PLATFORM_UI_DIALOG_H_
#define WENDREL_PLATFORM_UI_DIALOG_H_

#ifdef __cplusplus
extern "C" {
#endif

enum {
  kWendrelDialogOk = 1,
  kWendrelDialogCancel = 2,
  kWendrelDialogCannotCreate = -1,
  kWendrelDialogDoubleClick = 3
};

typedef struct WendrelDialogColumn {
  const char* title;  // the column heading
  int width;          // in pixels, as the list control was given it
} WendrelDialogColumn;

typedef struct WendrelDialogModel {
  const char* caption;  // the dialog's title bar
  const char* prompt;   // the static text above the list
  int column_count;     // at least 1
  const WendrelDialogColumn* columns;  // column_count entries, left to right
  int row_count;        // 0 or more
  // row_count * column_count texts, row by row, in display order (the list
  // sorts its rows ascending by the first column's text); an empty cell is "".
  const char* const* cells;
  int selected_row;     // the row selected when the dialog opens, -1 for none
} WendrelDialogModel;

// The hook's type and name, for dlsym.
typedef int (*WendrelHostSelectionDialogFn)(const WendrelDialogModel* model, int* chosen_row);
#define WENDREL_HOST_SELECTION_DIALOG_SYMBOL "WendrelHostSelectionDialog"

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // WENDREL_PLATFORM_UI_DIALOG_H_
