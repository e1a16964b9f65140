// Background music: Ogg Vorbis made by the tests, played through FAudio
// with SDL's disk driver, and the output compared sample for sample.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "ImageSupport.h"
#include "OggSupport.h"
#include "ordel/audio/Audio.h"

using test::Ref;
using test::TempDir;

namespace {

IFile* FileOf(const std::string& bytes) {
  IFile* file = nullptr;
  HandOut(new test::MemoryFile(bytes), IID_IFile, reinterpret_cast<void**>(&file));
  return file;
}

// The whole stream as vorbisfile decodes it once.
std::vector<int16_t> Decode(const std::string& ogg) {
  IFile* file = FileOf(ogg);
  std::vector<int16_t> all;
  {
    CLoadOgg decoder;
    EXPECT_EQ(decoder.Open(file), 0);
    OggVorbis_File vf;
    IFile* again = FileOf(ogg);
    again->AddRef();
    EXPECT_EQ(ov_open_callbacks(again, &vf, nullptr, 0,
                                ov_callbacks{[](void* b, size_t s, size_t c, void* f) -> size_t {
                                               uint32_t got = 0;
                                               static_cast<IFile*>(f)->Read(b, static_cast<uint32_t>(s * c), &got);
                                               return got / s;
                                             },
                                             [](void* f, ogg_int64_t o, int w) {
                                               return static_cast<IFile*>(f)->Seek(o, static_cast<uint32_t>(w), nullptr) == 0 ? 0 : -1;
                                             },
                                             [](void* f) {
                                               static_cast<IFile*>(f)->Release();
                                               return 0;
                                             },
                                             [](void* f) -> long {
                                               uint64_t p = 0;
                                               static_cast<IFile*>(f)->Seek(0, 1, &p);
                                               return static_cast<long>(p);
                                             }}),
              0);
    char buffer[4096];
    int section = 0;
    for (long n; (n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section)) > 0;)
      all.insert(all.end(), reinterpret_cast<int16_t*>(buffer), reinterpret_cast<int16_t*>(buffer + n));
    ov_clear(&vf);
    again->Release();
  }
  file->Release();
  return all;
}

class Music : public ::testing::Test {
 protected:
  void SetUp() override {
    m_output = m_tmp / "out.raw";
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", m_output.c_str(), 1);
    ::setenv("SDL_DISKAUDIODELAY", "2", 1);  // about ten times faster than real time
    ASSERT_EQ(CreateAudio(44100, reinterpret_cast<void**>(&m_audio)), 0);
  }
  void TearDown() override { m_audio.Reset(); }

  // The samples written so far, as 16-bit values (the device takes floats).
  std::vector<int16_t> Output() const {
    std::ifstream in(m_output, std::ios::binary);
    std::vector<float> samples;
    float v;
    while (in.read(reinterpret_cast<char*>(&v), sizeof v)) samples.push_back(v);
    std::vector<int16_t> out;
    for (float f : samples) out.push_back(static_cast<int16_t>(std::lround(f * 32768.0f)));
    return out;
  }
  // Waits until `samples` non-silent samples were written (or 30 s).
  void WaitForMusic(std::size_t samples) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
      std::error_code error;
      if (std::filesystem::file_size(m_output, error) / 4 > samples + 44100 * 2 * 4) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  // The output without its runs of silence (before Play, after Stop).
  static std::vector<int16_t> WithoutSilence(const std::vector<int16_t>& out) {
    std::vector<int16_t> kept;
    std::size_t i = 0;
    while (i < out.size()) {
      std::size_t j = i;
      while (j < out.size() && out[j] == 0) ++j;
      if (j - i < 2000) kept.insert(kept.end(), out.begin() + static_cast<std::ptrdiff_t>(i), out.begin() + static_cast<std::ptrdiff_t>(j));
      if (j >= out.size()) break;
      kept.push_back(out[j]);
      i = j + 1;
    }
    return kept;
  }
  static void ExpectLooped(const std::vector<int16_t>& played, const std::vector<int16_t>& stream, std::size_t count) {
    ASSERT_GE(played.size(), count);
    ASSERT_FALSE(stream.empty());
    for (std::size_t i = 0; i < count; ++i)
      ASSERT_EQ(played[i], stream[i % stream.size()]) << "sample " << i << " of a stream of " << stream.size();
  }

  TempDir m_tmp;
  std::string m_output;
  Ref<IAudio> m_audio;
};

constexpr std::size_t kBufferSamples = CBGM::kBufferSize / 2;

TEST_F(Music, PlaysTheStreamOverAndOverWithoutAGap) {
  for (double seconds : {3.0, 0.5}) {
    SCOPED_TRACE(seconds);
    const std::string ogg = test::EncodeOgg(test::Chord(seconds));
    const std::vector<int16_t> stream = Decode(ogg);
    std::filesystem::remove(m_output);
    m_audio.Reset();
    ASSERT_EQ(CreateAudio(44100, reinterpret_cast<void**>(&m_audio)), 0);
    IFile* file = FileOf(ogg);
    Ref<IBGM> music;
    ASSERT_EQ(m_audio->CreateBGM(&music, file), 0);
    file->Release();  // the music keeps its own reference
    EXPECT_EQ(music->Play(), S_OK);
    EXPECT_EQ(music->Play(), S_OK);  // a second start changes nothing
    WaitForMusic(3 * kBufferSamples);
    music.Reset();
    ExpectLooped(WithoutSilence(Output()), stream, 3 * kBufferSamples);
  }
}

TEST_F(Music, StopThenPlayResumesWhereItStopped) {
  const std::string ogg = test::EncodeOgg(test::Chord(3.0));
  const std::vector<int16_t> stream = Decode(ogg);
  IFile* file = FileOf(ogg);
  Ref<IBGM> music;
  ASSERT_EQ(m_audio->CreateBGM(&music, file), 0);
  file->Release();
  music->Play();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(music->Stop(), S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  music->Play();
  WaitForMusic(2 * kBufferSamples + 44100 * 2 * 3);
  music.Reset();
  ExpectLooped(WithoutSilence(Output()), stream, 2 * kBufferSamples);
}

TEST_F(Music, FilesThatAreNoMusic) {
  const std::string ogg = test::EncodeOgg(test::Chord(3.0));
  std::string damaged = ogg;
  for (std::size_t i = damaged.size() / 3; i < damaged.size() / 3 + 400; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  struct Case {
    const char* what;
    std::string bytes;
    int32_t result;
  } cases[] = {{"empty", "", 1}, {"text", "not music at all, just words", 1}, {"cut to its headers", ogg.substr(0, 200), 1},
               {"damaged in the middle", damaged, 0}};
  for (const Case& c : cases) {
    IFile* file = FileOf(c.bytes);
    Ref<IBGM> music;
    EXPECT_EQ(m_audio->CreateBGM(&music, file), c.result) << c.what;
    // Held: ours, the music's, the decoder adapter's and the decoder's own.
    EXPECT_EQ(test::RefCount(file), c.result == 0 ? 4u : 1u) << c.what << ": references held";
    if (music) {
      music->Play();
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    music.Reset();
    EXPECT_EQ(file->Release(), 0u) << c.what;
  }
}

TEST_F(Music, ReleasingWhilePlayingEndsEverything) {
  const std::string ogg = test::EncodeOgg(test::Chord(0.5));
  for (int round = 0; round < 5; ++round) {
    IFile* file = FileOf(ogg);
    Ref<IBGM> music;
    ASSERT_EQ(m_audio->CreateBGM(&music, file), 0);
    music->Play();
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * round));
    music.Reset();  // thread joined, voice gone, events closed
    EXPECT_EQ(file->Release(), 0u);
  }
}

// A file that notes when it is read.
class TimedFile final : public CUnknownImpl<IFile> {
 public:
  explicit TimedFile(std::string bytes) : m_file(FileOf(bytes)), m_start(std::chrono::steady_clock::now()) {}
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* got) override {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_reads.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count());
    }
    return m_file->Read(buffer, bytes, got);
  }
  int32_t Reserved() override { return 1; }
  int32_t Seek(int64_t d, uint32_t o, uint64_t* p) override { return m_file->Seek(d, o, p); }
  int32_t GetSize(uint64_t* s) override { return m_file->GetSize(s); }
  std::vector<double> Reads() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_reads;
  }

 private:
  ~TimedFile() override { m_file->Release(); }
  IFile* m_file;
  std::chrono::steady_clock::time_point m_start;
  std::mutex m_lock;
  std::vector<double> m_reads;
};

TEST(AudioDevice, BuffersAreRefilledAboutEightSecondsApart) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);  // real time, a little slow
  Ref<IAudio> audio;
  ASSERT_EQ(CreateAudio(0, reinterpret_cast<void**>(&audio)), 0);
  auto* file = new TimedFile(test::EncodeOgg(test::Chord(3.0)));
  file->AddRef();
  Ref<IBGM> music;
  ASSERT_EQ(audio->CreateBGM(&music, file), 0);
  music->Play();
  // Both buffers are filled at once; the first comes free after its 8 s.
  std::this_thread::sleep_for(std::chrono::milliseconds(12500));
  music.Reset();
  const std::vector<double> reads = file->Reads();
  file->Release();
  int early = 0, quiet = 0, refill = 0;
  for (double t : reads) {
    if (t < 2) ++early;
    else if (t < 6) ++quiet;
    else if (t < 12.5) ++refill;
  }
  EXPECT_GT(early, 0);
  EXPECT_EQ(quiet, 0) << "nothing is decoded while both buffers play";
  EXPECT_GT(refill, 0) << "buffer A ends about 8 s in and is filled again";
}

TEST(AudioDevice, NoDeviceNoAudio) {
  ::setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(test::OrdelLibrary::Get().create(IID_IAudio, &out), 1);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1));
}

}  // namespace
