#include "ordel/audio/Audio.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace {

// vorbisfile's callbacks over an IFile.
size_t ReadFile(void* buffer, size_t size, size_t count, void* source) {
  if (size == 0) return 0;
  uint32_t got = 0;
  const uint64_t want = std::min<uint64_t>(static_cast<uint64_t>(size) * count, 0xFFFFFFFFu);
  if (static_cast<IFile*>(source)->Read(buffer, static_cast<uint32_t>(want), &got) != 0) return 0;
  return got / size;
}

int SeekFile(void* source, ogg_int64_t offset, int whence) {
  if (whence < 0 || whence > 2) return -1;
  return static_cast<IFile*>(source)->Seek(offset, static_cast<uint32_t>(whence), nullptr) == 0 ? 0 : -1;
}

int CloseFile(void* source) {
  static_cast<IFile*>(source)->Release();
  return 0;
}

long TellFile(void* source) {
  uint64_t position = 0;
  if (static_cast<IFile*>(source)->Seek(0, 1, &position) != 0) return 0;
  return static_cast<long>(position);
}

constexpr ov_callbacks kCallbacks = {ReadFile, SeekFile, CloseFile, TellFile};

// The voice callback, with the way back to its music.
struct VoiceCallback {
  FAudioVoiceCallback base;
  HANDLE* events;  // A free, B free
  const BYTE* bufferA;
};

void FAUDIOCALL Nothing(FAudioVoiceCallback*) {}
void FAUDIOCALL NothingWithContext(FAudioVoiceCallback*, void*) {}
void FAUDIOCALL NothingWithError(FAudioVoiceCallback*, void*, uint32_t) {}
void FAUDIOCALL NothingWithBytes(FAudioVoiceCallback*, uint32_t) {}

}  // namespace

// ---- CLoadOgg ----

CLoadOgg::~CLoadOgg() {
  if (m_open) ov_clear(&m_vorbis);  // gives the decoder's file reference back
  if (m_file != nullptr) m_file->Release();
}

int CLoadOgg::Open(IFile* file) {
  file->AddRef();
  m_file = file;
  file->AddRef();  // the decoder's own, given back through its close callback
  const int result = ov_open_callbacks(file, &m_vorbis, nullptr, 0, kCallbacks);
  if (result != 0) {
    file->Release();  // vorbisfile does not call close when opening fails
    return result;
  }
  m_open = true;
  return 0;
}

void CLoadOgg::Fill(BYTE* buffer, int32_t length) {
  int emptyRewinds = 0;
  int holes = 0;
  while (length > 0) {
    if (!m_open) break;
    int section = 0;
    const long n = ov_read(&m_vorbis, reinterpret_cast<char*>(buffer), std::min<int32_t>(length, 4096), 0, 2, 1, &section);
    if (n > 0) {
      buffer += n;
      length -= static_cast<int32_t>(n);
      emptyRewinds = holes = 0;
    } else if (n == 0) {
      // The end: start over, unless starting over yields nothing at all.
      if (++emptyRewinds > 1 || ov_time_seek(&m_vorbis, 0.0) != 0) break;
    } else if (n == OV_HOLE && ++holes < 1000) {
      continue;  // a gap in a damaged stream: decoding goes on after it
    } else {
      break;  // any other error: the rest is silence
    }
  }
  if (length > 0) std::memset(buffer, 0, static_cast<std::size_t>(length));
}

// ---- CBGM ----

CBGM::CBGM(FAudio* engine, IFile* file) : m_engine(engine), m_file(file) {
  FAudio_AddRef(m_engine);
  m_file->AddRef();
}

CBGM::~CBGM() {
  // The thread first (it submits to the voice), then the voice (whose
  // callbacks signal the events), then the events, buffers and file.
  if (m_thread.joinable()) {
    SetEvent(m_events[3]);
    m_thread.join();
  }
  if (m_voice != nullptr) {
    FAudioSourceVoice_Stop(m_voice, 0, 0);
    FAudioVoice_DestroyVoice(m_voice);
  }
  for (HANDLE& event : m_events) {
    CloseHandle(event);
    event = nullptr;
  }
  delete reinterpret_cast<VoiceCallback*>(m_callbackState);
  m_file->Release();
  FAudio_Release(m_engine);
}

bool CBGM::Start() {
  if (m_ogg.Open(m_file) != 0) return false;  // not Ogg Vorbis: nothing to play
  try {
    m_bufferA.resize(kBufferSize);
    m_bufferB.resize(kBufferSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (HANDLE& event : m_events) {
    event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return false;
  }

  auto* callback = new (std::nothrow) VoiceCallback{
      {NothingWithContext, NothingWithContext, NothingWithContext, Nothing, NothingWithError, Nothing,
       NothingWithBytes},
      m_events,
      m_bufferA.data()};
  if (callback == nullptr) return false;
  m_callbackState = callback;
  callback->base.OnBufferEnd = OnBufferEnd;
  FAudioWaveFormatEx format{};
  format.wFormatTag = 1;  // PCM
  format.nChannels = 2;
  format.nSamplesPerSec = 44100;
  format.nAvgBytesPerSec = 176400;
  format.nBlockAlign = 4;
  format.wBitsPerSample = 16;
  format.cbSize = 18;
  if (FAudio_CreateSourceVoice(m_engine, &m_voice, &format, 0, FAUDIO_MAX_FREQ_RATIO, &callback->base, nullptr,
                               nullptr) != 0) {
    m_voice = nullptr;
    return false;
  }
  SetEvent(m_events[0]);  // fill both buffers first
  SetEvent(m_events[1]);
  try {
    m_thread = std::thread([this] { Stream(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void FAUDIOCALL CBGM::OnBufferEnd(FAudioVoiceCallback* base, void* context) {
  auto* callback = reinterpret_cast<VoiceCallback*>(base);
  SetEvent(callback->events[context == callback->bufferA ? 0 : 1]);
}

void CBGM::Stream() {
  for (;;) {
    const DWORD which = WaitForMultipleObjects(4, m_events, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 0 || which == WAIT_OBJECT_0 + 1) {
      std::vector<BYTE>& buffer = which == WAIT_OBJECT_0 ? m_bufferA : m_bufferB;
      m_ogg.Fill(buffer.data(), static_cast<int32_t>(buffer.size()));
      FAudioBuffer submit{};
      submit.AudioBytes = static_cast<uint32_t>(buffer.size());
      submit.pAudioData = buffer.data();
      submit.pContext = buffer.data();
      FAudioSourceVoice_SubmitSourceBuffer(m_voice, &submit, nullptr);
    } else if (which == WAIT_OBJECT_0 + 2) {
      FAudioSourceVoice_Start(m_voice, 0, 0);
    } else if (which == WAIT_OBJECT_0 + 3) {
      return;
    }
  }
}

HRESULT CBGM::Play() {
  SetEvent(m_events[2]);
  return S_OK;
}

HRESULT CBGM::Stop() { return static_cast<HRESULT>(FAudioSourceVoice_Stop(m_voice, 0, 0)); }

// ---- CAudio ----

CAudio::~CAudio() {
  if (m_master != nullptr) FAudioVoice_DestroyVoice(m_master);
  if (m_engine != nullptr) FAudio_Release(m_engine);
}

int32_t CAudio::Initialize(uint32_t sampleRate) {
  if (FAudioCreate(&m_engine, 0, FAUDIO_DEFAULT_PROCESSOR) != 0) {
    m_engine = nullptr;
    return 1;
  }
  if (FAudio_CreateMasteringVoice(m_engine, &m_master, FAUDIO_DEFAULT_CHANNELS, sampleRate, 0, 0, nullptr) != 0) {
    m_master = nullptr;
    return 1;
  }
  return 0;
}

int32_t CAudio::CreateBGM(IBGM** out, IFile* file) {
  if (out == nullptr || file == nullptr) return 1;
  CBGM* music = new (std::nothrow) CBGM(m_engine, file);
  if (music == nullptr) return 1;
  music->AddRef();
  int32_t result = 1;
  if (music->Start()) result = music->QueryInterface(IID_IBGM, reinterpret_cast<void**>(out)) == S_OK ? 0 : 1;
  music->Release();
  return result;
}

int32_t CreateAudio(uint32_t sampleRate, void** out) {
  CAudio* audio = new (std::nothrow) CAudio;
  if (audio == nullptr) return 1;
  audio->AddRef();
  int32_t result = audio->Initialize(sampleRate);
  if (result == 0) result = audio->QueryInterface(IID_IAudio, out) == S_OK ? 0 : 1;
  audio->Release();
  return result;
}
