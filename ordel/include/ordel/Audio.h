// The library's background music as callers receive it: the audio engine
// (IAudio) and the music it makes (IBGM), slot for slot.
#pragma once

#include "ordel/FileSystem.h"

struct IBGM : IUnknown {
  static constexpr GUID iid = MakeGuid("{B415CF45-A33D-4732-A6CD-EB514C6EFA84}");
  virtual HRESULT Play() = 0;
  // Stops at once; a later Play resumes where it stopped.
  virtual HRESULT Stop() = 0;
};

struct IAudio : IUnknown {
  static constexpr GUID iid = MakeGuid("{C1F4598F-B507-43DB-A5FE-E308A395C6B6}");
  // 0 and new music from an Ogg Vorbis file (44100 Hz stereo), not yet
  // playing, looping without end; 1 when it cannot be made. Release every
  // IBGM before the last IAudio reference.
  virtual int32_t CreateBGM(IBGM** out, IFile* file) = 0;
};

inline constexpr const GUID& IID_IBGM = IBGM::iid;
inline constexpr const GUID& IID_IAudio = IAudio::iid;
