// The library's audio interfaces, slot for slot.
#pragma once

#include "ordel/FileSystem.h"

struct IBGM : IUnknown {
  static constexpr GUID iid = MakeGuid("{B415CF45-A33D-4732-A6CD-EB514C6EFA84}");
  virtual HRESULT Play() = 0;
  virtual HRESULT Stop() = 0;
};

struct IAudio : IUnknown {
  static constexpr GUID iid = MakeGuid("{C1F4598F-B507-43DB-A5FE-E308A395C6B6}");
  // 0 and new music, not yet playing; 1 when it cannot be made.
  virtual int32_t CreateBGM(IBGM** out, IFile* file) = 0;
};

inline constexpr const GUID& IID_IBGM = IBGM::iid;
inline constexpr const GUID& IID_IAudio = IAudio::iid;
