#include <QtCore/QFile>
#include <QtWidgets/QFileDialog>

#include <cstdlib>
#include <new>

#include "platform/dialog.h"
#include "platform/shobjidl.h"
#include "platform/text.h"
#include "platform/wincodec.h"

namespace {

FileDialogHook g_hook = nullptr;
void* g_hookContext = nullptr;
std::u16string g_shownFolder;  // of the dialog being shown

class CShellItem final : public CUnknownImpl<IShellItem> {
 public:
  explicit CShellItem(std::u16string path) : m_path(std::move(path)) {}
  HRESULT GetDisplayName(DWORD, char16_t** name) override {
    if (name == nullptr) return E_POINTER;
    auto* copy = static_cast<char16_t*>(std::malloc((m_path.size() + 1) * sizeof(char16_t)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    m_path.copy(copy, m_path.size());
    copy[m_path.size()] = u'\0';
    *name = copy;
    return S_OK;
  }

 private:
  std::u16string m_path;
};

class CFileOpenDialog final : public CUnknownImpl2<IFileOpenDialog, IFileDialogFolder> {
 public:
  HRESULT SetFolder(const char16_t* path) override {
    m_folder = path != nullptr ? path : u"";
    return S_OK;
  }

  HRESULT Show(HWND owner) override {
    std::u16string path;
    bool chosen = false;
    g_shownFolder = m_folder;
    if (g_hook != nullptr) {
      chosen = g_hook(m_options, m_filter, &path, g_hookContext);
    } else {
      QFileDialog dialog(dynamic_cast<QWidget*>(owner));
      if (!m_folder.empty()) dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(Utf16ToUtf8(m_folder))));
      if (m_options & FOS_PICKFOLDERS) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
      } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
        if (!m_filterName.empty())
          dialog.setNameFilter(QString::fromStdU16String(m_filterName).replace(QStringLiteral("*.*"), QStringLiteral("*")));
      }
      if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        path = Utf8ToUtf16(QFile::encodeName(dialog.selectedFiles().first()).toStdString());
        chosen = true;
      }
    }
    g_shownFolder.clear();
    m_result = chosen ? path : std::u16string();
    m_chosen = chosen;
    return chosen ? S_OK : HRESULT_CANCELLED;
  }
  HRESULT SetFileTypes(UINT count, const COMDLG_FILTERSPEC* types) override {
    if (count == 0 || types == nullptr) return E_INVALIDARG;
    m_filterName = types[0].pszName;
    m_filter = types[0].pszSpec;
    return S_OK;
  }
  HRESULT SetOptions(DWORD options) override {
    m_options = options;
    return S_OK;
  }
  HRESULT GetOptions(DWORD* options) override {
    if (options == nullptr) return E_POINTER;
    *options = m_options;
    return S_OK;
  }
  HRESULT GetResult(IShellItem** item) override {
    if (item == nullptr) return E_POINTER;
    if (!m_chosen) return E_UNEXPECTED;
    auto* object = new (std::nothrow) CShellItem(m_result);
    if (object == nullptr) return E_OUTOFMEMORY;
    return HandOut(object, IShellItem::iid, reinterpret_cast<void**>(item));
  }

 private:
  ~CFileOpenDialog() = default;

  DWORD m_options = FOS_FILEMUSTEXIST;
  std::u16string m_filterName, m_filter, m_result, m_folder;
  bool m_chosen = false;
};

}  // namespace

void CoTaskMemFree(void* memory) { std::free(memory); }

std::u16string ShownFileDialogFolder() { return g_shownFolder; }

void SetFileDialogHook(FileDialogHook hook, void* context) {
  g_hook = hook;
  g_hookContext = context;
}

// The classes of this library for CoCreateInstance.
HRESULT CreateWindowClassInstance(REFCLSID clsid, REFIID iid, void** out) {
  if (clsid != CLSID_FileOpenDialog) return REGDB_E_CLASSNOTREG;
  auto* dialog = new (std::nothrow) CFileOpenDialog;
  if (dialog == nullptr) return E_OUTOFMEMORY;
  return HandOut(static_cast<IFileOpenDialog*>(dialog), iid, out);
}
