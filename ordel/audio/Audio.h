// Background music: an audio engine and looping Ogg Vorbis files streamed
// on a thread of their own into two 8-second buffers played in turn.
#pragma once

#include <FAudio.h>
#include <vorbis/vorbisfile.h>

#include <thread>
#include <vector>

#include "ordel/Audio.h"
#include "platform/events.h"

// The decoder over an IFile.
class CLoadOgg {
 public:
  ~CLoadOgg();
  // 0, or the vorbisfile error when the file is no Ogg Vorbis stream.
  int Open(IFile* file);
  // Exactly `length` bytes of 16-bit little-endian interleaved PCM, the
  // stream starting over at its end.
  void Fill(BYTE* buffer, int32_t length);

 private:
  OggVorbis_File m_vorbis{};
  bool m_open = false;
  IFile* m_file = nullptr;  // our own reference
};

class CBGM final : public CUnknownImpl<IBGM> {
 public:
  static constexpr uint32_t kBufferSize = 1411200;  // 8 seconds of 44100 Hz stereo 16-bit

  CBGM(FAudio* engine, IFile* file);
  HRESULT Play() override;
  HRESULT Stop() override;

  // Voice, events, thread. false leaves the object to be released.
  bool Start();

 private:
  ~CBGM() override;
  void Stream();
  static void FAUDIOCALL OnBufferEnd(FAudioVoiceCallback* callback, void* context);

  void* m_callbackState = nullptr;  // the voice's callback record
  CLoadOgg m_ogg;
  FAudio* m_engine;
  FAudioSourceVoice* m_voice = nullptr;
  IFile* m_file;
  std::vector<BYTE> m_bufferA, m_bufferB;
  std::thread m_thread;
  HANDLE m_events[4] = {};  // A free, B free, play, quit: in this order of priority
};

class CAudio final : public CUnknownImpl<IAudio> {
 public:
  int32_t CreateBGM(IBGM** out, IFile* file) override;

  // The engine and its mastering voice; sampleRate 0 takes the device's.
  // 0, or 1 when no audio device can be had.
  int32_t Initialize(uint32_t sampleRate);

 private:
  ~CAudio() override;
  FAudio* m_engine = nullptr;
  FAudioMasteringVoice* m_master = nullptr;
};

// A new CAudio handed out as IAudio; 1 and nothing handed out without a device.
int32_t CreateAudio(uint32_t sampleRate, void** out);
