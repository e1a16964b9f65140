// The common item dialog for opening a file or picking a folder, on
// QFileDialog, created through CoCreateInstance.
#pragma once

#include <string>

#include "platform/com.h"
#include "platform/winuser.h"

constexpr DWORD FOS_PICKFOLDERS = 0x20;
constexpr DWORD FOS_FORCEFILESYSTEM = 0x40;
constexpr DWORD FOS_FILEMUSTEXIST = 0x1000;
constexpr DWORD SIGDN_FILESYSPATH = 0x80058000;
constexpr HRESULT HRESULT_CANCELLED = static_cast<HRESULT>(0x800704C7u);  // ERROR_CANCELLED

struct COMDLG_FILTERSPEC {
  const char16_t* pszName;
  const char16_t* pszSpec;
};

struct IShellItem : IUnknown {
  static constexpr GUID iid = MakeGuid("{43826D1E-E718-42EE-BC55-A1E261C37BFE}");
  // The path in memory the caller frees with CoTaskMemFree.
  virtual HRESULT GetDisplayName(DWORD form, char16_t** name) = 0;
};

struct IFileOpenDialog : IUnknown {
  static constexpr GUID iid = MakeGuid("{D57C7288-D4AD-4768-BE02-9D969532D960}");
  virtual HRESULT Show(HWND owner) = 0;
  virtual HRESULT SetFileTypes(UINT count, const COMDLG_FILTERSPEC* types) = 0;
  virtual HRESULT SetOptions(DWORD options) = 0;
  virtual HRESULT GetOptions(DWORD* options) = 0;
  virtual HRESULT GetResult(IShellItem** item) = 0;
};
inline constexpr const GUID& IID_IFileOpenDialog = IFileOpenDialog::iid;
inline constexpr GUID CLSID_FileOpenDialog = MakeGuid("{DC1C5A9C-E88A-4DDE-A5A1-60F82A20AEF7}");

void CoTaskMemFree(void* memory);

// Tests answer dialogs themselves: the hook gets the options and the
// filters' patterns and returns the chosen path, or false for cancel.
using FileDialogHook = bool (*)(DWORD options, const std::u16string& filter, std::u16string* path, void* context);
void SetFileDialogHook(FileDialogHook hook, void* context);
