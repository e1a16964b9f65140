// Ogg Vorbis made by the tests: a chord, encoded with libvorbisenc.
#pragma once

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace test {

// Encodes stereo 44100 Hz samples (interleaved) as Ogg Vorbis.
inline std::string EncodeOgg(const std::vector<int16_t>& pcm) {
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, 2, 44100, 0.5f) != 0) return {};
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 7);
  std::string out;
  ogg_page page;
  auto flush = [&](bool all) {
    while (all ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) {
      out.append(reinterpret_cast<char*>(page.header), static_cast<std::size_t>(page.header_len));
      out.append(reinterpret_cast<char*>(page.body), static_cast<std::size_t>(page.body_len));
    }
  };
  ogg_packet header, commentPacket, codebook;
  vorbis_analysis_headerout(&dsp, &comment, &header, &commentPacket, &codebook);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &commentPacket);
  ogg_stream_packetin(&stream, &codebook);
  flush(true);
  const std::size_t frames = pcm.size() / 2;
  for (std::size_t done = 0; done <= frames;) {
    const std::size_t n = std::min<std::size_t>(1024, frames - done);
    if (n == 0) {
      vorbis_analysis_wrote(&dsp, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(n));
      for (std::size_t i = 0; i < n; ++i) {
        buffer[0][i] = pcm[2 * (done + i)] / 32768.0f;
        buffer[1][i] = pcm[2 * (done + i) + 1] / 32768.0f;
      }
      vorbis_analysis_wrote(&dsp, static_cast<int>(n));
    }
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        flush(false);
      }
    }
    if (n == 0) break;
    done += n;
  }
  flush(true);
  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

// A loud chord with a different note on each side, never silent for long.
inline std::vector<int16_t> Chord(double seconds) {
  const std::size_t frames = static_cast<std::size_t>(seconds * 44100);
  std::vector<int16_t> pcm(frames * 2);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / 44100;
    pcm[2 * i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * t) + 6000 * std::sin(2 * M_PI * 660 * t) + 3000);
    pcm[2 * i + 1] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 330 * t) - 3000);
  }
  return pcm;
}

}  // namespace test
